#pragma once

// What the fuzz targets share: a property check that stops the run with a
// report (libFuzzer keeps the input that broke it), and a scratch folder for
// the routines that read and write files by path.

#include <QByteArray>
#include <cstddef>
#include <cstdint>

[[noreturn]] void FuzzFailed(const char* file, int line, const char* property);

#define FUZZ_CHECK(property)                                                                       \
    do {                                                                                           \
        if (!(property))                                                                           \
            FuzzFailed(__FILE__, __LINE__, #property);                                             \
    } while (false)

// A private folder made at the first call (in memory where /dev/shm is, so
// that thousands of runs a second cost no disk) and removed at exit.
const QByteArray& ScratchFolder();

// Writes the bytes to the file `name` in the scratch folder; returns its path.
QByteArray WriteScratchFile(const char* name, const uint8_t* data, size_t size);
