#include "playlist/PlaylistFile.h"

#include <QRandomGenerator>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

EFileError fileError(const char* what, const QByteArray& path, int error) {
    return EFileError(std::string(what) + " \"" + path.toStdString() + "\". " +
                      std::strerror(error));
}

EFileError openError(const QByteArray& path, int error) {
    return fileError("Cannot open file", path, error);
}

EFileError createError(const QByteArray& path, int error) {
    return fileError("Cannot create file", path, error);
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { Close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return fd_; }
    // Returns 0 or the error of close(), which on some file systems is the
    // first word of a failed write.
    int Close() {
        if (fd_ < 0)
            return 0;
        const int result = ::close(fd_);
        fd_ = -1;
        return result == 0 ? 0 : errno;
    }

private:
    int fd_;
};

// Calls `line(begin, end)` for every line of the text, by the line-end rules
// of playlist files.
template <class LineFn> void forEachLine(const char* p, const char* end, LineFn&& line) {
    while (p < end) {
        const char* q = p;
        while (q < end && *q != '\r' && *q != '\n')
            ++q;
        line(p, q);
        if (q == end)
            return;
        p = (*q == '\r' && q + 1 < end && q[1] == '\n') ? q + 2 : q + 1;
    }
}

// Returns 0 or the error of the first write that failed.
int writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += n;
        size -= size_t(n);
    }
    return 0;
}

// Replacing the content must not change who may read the playlist. Where the
// owner cannot be given (another user's file), the new file stays ours.
bool takeOwnerAndMode(int fd, const struct stat& old) {
    const bool owner = ::fchown(fd, old.st_uid, old.st_gid) == 0;
    return ::fchmod(fd, old.st_mode & 07777) == 0 && owner;
}

QByteArray randomSuffix() {
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QByteArray suffix(8, '\0');
    for (char& c : suffix)
        c = letters[QRandomGenerator::global()->bounded(int(sizeof letters - 1))];
    return suffix;
}

} // namespace

bool IsStorablePath(QByteArrayView path) {
    if (path.isEmpty())
        return false;
    for (const char c : path)
        if (c == '\r' || c == '\n' || c == '\0')
            return false;
    return true;
}

std::vector<QByteArray> SplitListText(const char* text, size_t size) {
    const char* end = text + size;
    if (const void* nul = std::memchr(text, '\0', size))
        end = static_cast<const char*>(nul);
    // Counting first lets the list be allocated once: a million-line
    // playlist then never holds two copies of its vector while growing.
    size_t count = 0;
    forEachLine(text, end, [&count](const char*, const char*) { ++count; });
    std::vector<QByteArray> lines;
    lines.reserve(count);
    forEachLine(text, end, [&lines](const char* b, const char* e) {
        lines.emplace_back(b, qsizetype(e - b));
    });
    return lines;
}

std::vector<QByteArray> ReadListFile(const QByteArray& path, bool* cutShort) {
    if (cutShort)
        *cutShort = false;
    // Not blocking on open keeps a named pipe typed into the dialog from
    // freezing the window; regular files read the same either way.
    FileDescriptor file(::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.Get() < 0)
        throw openError(path, errno);
    struct stat st {};
    qsizetype capacity = 64 * 1024;
    if (::fstat(file.Get(), &st) == 0 && S_ISREG(st.st_mode))
        capacity = qsizetype(st.st_size) + 1; // one more, so the end is seen in the same loop
    QByteArray text;
    text.resize(capacity);
    qsizetype used = 0;
    for (;;) {
        if (used == text.size())
            text.resize(text.size() * 2);
        const ssize_t n = ::read(file.Get(), text.data() + used, size_t(text.size() - used));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN)
                break;
            throw openError(path, errno);
        }
        if (n == 0)
            break;
        // Nothing after a NUL counts, so there is no need to read on: a
        // device such as /dev/zero ends at once instead of filling memory.
        if (const void* nul = std::memchr(text.data() + used, '\0', size_t(n))) {
            used = static_cast<const char*>(nul) - text.constData();
            if (cutShort)
                *cutShort = true;
            break;
        }
        used += n;
    }
    file.Close();
    return SplitListText(text.constData(), size_t(used));
}

void SaveListFile(const QByteArray& path, const std::vector<QByteArray>& lines, mode_t mode) {
    // A link to a playlist stays a link: the file it points to is replaced.
    QByteArray target = path;
    struct stat st {};
    if (::lstat(path.constData(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(path.constData(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    const bool replacing = ::stat(target.constData(), &st) == 0 && S_ISREG(st.st_mode);

    // The new file is written beside the old one, so that the final rename
    // stays on one file system and replaces the old content in one step.
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = slash < 0    ? QByteArray(".")
                              : slash == 0 ? QByteArray("/")
                                           : target.left(slash);
    // The name is kept short enough for the longest file names.
    const QByteArray stem = folder + "/." + target.mid(slash + 1).left(200) + '.';
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = stem + randomSuffix();
        // O_EXCL and O_NOFOLLOW: a name planted in a shared folder is never
        // written through.
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    replacing ? 0600 : mode);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        throw createError(path, errno);
    FileDescriptor file(fd);
    auto fail = [&](int error) {
        file.Close();
        ::unlink(temporary.constData());
        return createError(path, error);
    };
    if (replacing)
        takeOwnerAndMode(fd, st);

    constexpr qsizetype chunk = 1 << 20;
    QByteArray buffer;
    buffer.reserve(chunk + 4096);
    for (const QByteArray& line : lines) {
        buffer.append(line).append("\r\n", 2);
        if (buffer.size() >= chunk) {
            if (const int error = writeAll(fd, buffer.constData(), size_t(buffer.size())))
                throw fail(error);
            buffer.resize(0);
        }
    }
    if (const int error = writeAll(fd, buffer.constData(), size_t(buffer.size())))
        throw fail(error);
    if (::fsync(fd) != 0)
        throw fail(errno);
    if (const int error = file.Close())
        throw fail(error);
    if (::rename(temporary.constData(), target.constData()) != 0)
        throw fail(errno);
    // The rename itself lasts through a crash only once the folder is on disk.
    FileDescriptor dir(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() >= 0)
        ::fsync(dir.Get());
}
