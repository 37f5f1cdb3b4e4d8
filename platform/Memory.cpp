#include "platform/Memory.h"

#include <cstdio>
#include <malloc.h>
#include <unistd.h>

void LimitMallocArenas() {
    // Two: the window's thread keeps the main arena, the streaming threads
    // share the rest; more only spreads the free memory thinner.
    mallopt(M_ARENA_MAX, 2);
}

void ReturnFreedMemory() {
    malloc_trim(0);
}

long ResidentKilobytes() {
    FILE* status = std::fopen("/proc/self/statm", "r");
    if (!status)
        return -1;
    long pages = 0, resident = 0;
    const int read = std::fscanf(status, "%ld %ld", &pages, &resident);
    std::fclose(status);
    return read == 2 ? resident * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}
