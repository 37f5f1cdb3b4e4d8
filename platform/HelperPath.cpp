#include "platform/HelperPath.h"

#include <climits>
#include <unistd.h>

#ifndef TOLVANE_HELPERS_FROM_PROGRAM
#define TOLVANE_HELPERS_FROM_PROGRAM "../libexec/tolvane"
#endif

std::string HelperPath(const char* name) {
    // The real program's folder, not the one it was started through: a link
    // to the program in ~/.local/bin must still find its helpers.
    char self[PATH_MAX];
    const ssize_t size = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (size <= 0)
        return {};
    std::string folder(self, size_t(size));
    folder.erase(folder.rfind('/') + 1);
    const std::string beside = folder + name;
    if (::access(beside.c_str(), F_OK) == 0)
        return beside;
    return folder + TOLVANE_HELPERS_FROM_PROGRAM "/" + name;
}
