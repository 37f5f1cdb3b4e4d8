#include "trackinfo/core/ReadOnlyFile.h"

#include <QString>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

static EFOpenError openError(const QByteArray& path, const char* reason) {
    return EFOpenError(QStringLiteral("Cannot open file \"%1\". %2")
                           .arg(QString::fromUtf8(path), QString::fromLocal8Bit(reason))
                           .toStdString());
}

ReadOnlyFile::ReadOnlyFile(const QByteArray& path) : path_(path) {
    // No name holds a NUL; open() would read only the part before it and
    // open some other file.
    if (path.contains('\0'))
        throw openError(path, std::strerror(ENOENT));
    // O_NONBLOCK: a playlist entry that names a FIFO must not hang the
    // window waiting for a writer; such files are refused below anyway.
    fd_ = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0)
        throw openError(path, std::strerror(errno));
    struct stat info {};
    const char* refusal = nullptr;
    if (::fstat(fd_, &info) != 0)
        refusal = std::strerror(errno);
    else if (S_ISDIR(info.st_mode))
        refusal = std::strerror(EISDIR);
    else if (!S_ISREG(info.st_mode))
        refusal = "Not a regular file";
    if (refusal) {
        const QByteArray reason(refusal); // strerror's buffer may be reused by close
        ::close(fd_);
        throw openError(path, reason.constData());
    }
    size_ = qint64(info.st_size);
}

ReadOnlyFile::~ReadOnlyFile() {
    ::close(fd_);
}

QByteArray ReadOnlyFile::ReadAt(qint64 offset, qint64 count) const {
    QByteArray bytes(qsizetype(count), Qt::Uninitialized);
    qint64 done = 0;
    while (done < count) {
        const ssize_t got =
            ::pread(fd_, bytes.data() + done, size_t(count - done), off_t(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw openError(path_, std::strerror(errno));
        if (got == 0)
            break; // end of file
        done += got;
    }
    bytes.truncate(qsizetype(done));
    return bytes;
}
