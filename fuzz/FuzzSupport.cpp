#include "FuzzSupport.h"

#include <QDir>
#include <QFile>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

void FuzzFailed(const char* file, int line, const char* property) {
    std::fprintf(stderr, "%s:%d: property failed: %s\n", file, line, property);
    std::abort();
}

static void removeScratchFolder() {
    QDir(QFile::decodeName(ScratchFolder())).removeRecursively();
}

const QByteArray& ScratchFolder() {
    static const QByteArray folder = [] {
        QByteArray base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "";
        if (base.isEmpty())
            base = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
        QByteArray made = base + "/tolvane-fuzz.XXXXXX";
        if (!::mkdtemp(made.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        return made;
    }();
    static const bool removed = std::atexit(removeScratchFolder) == 0;
    (void)removed;
    return folder;
}

QByteArray WriteScratchFile(const char* name, const uint8_t* data, size_t size) {
    const QByteArray path = ScratchFolder() + '/' + name;
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || ::write(fd, data, size) != ssize_t(size) || ::close(fd) != 0) {
        std::perror(path.constData());
        std::abort();
    }
    return path;
}
