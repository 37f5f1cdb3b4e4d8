#include "platform/FullTransfer.h"

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Runs transfer(at, size) until all of size is through.
template <typename Byte, typename Transfer> bool Fully(Byte* at, size_t size, Transfer transfer) {
    while (size > 0) {
        const ssize_t done = transfer(at, size);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        at += done;
        size -= size_t(done);
    }
    return true;
}

} // namespace

QByteArray Frame(const QByteArray& body) {
    const quint32 size = quint32(body.size());
    return QByteArray(reinterpret_cast<const char*>(&size), sizeof size) + body;
}

bool ReadFully(int fd, void* buffer, size_t size) {
    return Fully(static_cast<char*>(buffer), size,
                 [fd](char* at, size_t left) { return ::read(fd, at, left); });
}

bool WriteFully(int fd, const QByteArray& data) {
    return Fully(data.constData(), size_t(data.size()),
                 [fd](const char* at, size_t left) { return ::write(fd, at, left); });
}

bool SendFully(int fd, const QByteArray& data) {
    return Fully(data.constData(), size_t(data.size()),
                 [fd](const char* at, size_t left) { return ::send(fd, at, left, MSG_NOSIGNAL); });
}
