#pragma once

// GStreamer decodes on threads of its own, and glibc gives every thread that
// allocates an arena of its own (up to eight per core). Each track change
// brings new streaming threads, so freed memory ends up spread over many
// arenas that are seldom given back: the resident size climbs to hundreds of
// megabytes and stays there.

// A few arenas for the whole process; call before any thread is started.
void LimitMallocArenas();

// Gives the memory that is free at the top of the arenas back to the system;
// a track change is a good moment.
void ReturnFreedMemory();

// The resident size of this process in kilobytes, or -1.
long ResidentKilobytes();
