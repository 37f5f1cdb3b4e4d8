#include "playlist/core/PlaylistFile.h"

#include "playlist/core/ListLines_p.h"

#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

EFileError fileError(const char* what, const QByteArray& path, const char* reason) {
    return EFileError(std::string(what) + " \"" + path.toStdString() + "\". " + reason);
}

EFileError fileError(const char* what, const QByteArray& path, int error) {
    return fileError(what, path, std::strerror(error));
}

EFileError openError(const QByteArray& path, int error) {
    return fileError("Cannot open file", path, error);
}

EFileError createError(const QByteArray& path, int error) {
    return fileError("Cannot create file", path, error);
}

EFileTooLarge tooLarge(const QByteArray& path) {
    return EFileTooLarge("Cannot open file \"" + path.toStdString() + "\". " +
                         std::strerror(EFBIG));
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { Close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return fd_; }
    void Reset(int fd) {
        Close();
        fd_ = fd;
    }
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

// Maps the pages of a fresh buffer in one call before a read fills them:
// taking one page fault per 4 KiB instead costs more than the read itself.
// Kernels without the call simply fault as before.
void prefault(char* at, size_t size) {
    const uintptr_t page = uintptr_t(::sysconf(_SC_PAGESIZE));
    const uintptr_t first = (uintptr_t(at) + page - 1) & ~(page - 1);
    const uintptr_t last = (uintptr_t(at) + size) & ~(page - 1);
#ifdef MADV_POPULATE_WRITE
    if (last > first)
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
#else
    (void)first;
    (void)last;
#endif
}

// Makes an entry of every line of the list's text from `from` on.
void indexLines(PathList& list, size_t from) {
    const char* base = list.text();
    const char* end = base + list.textBytes();
    // Room for lines of 40 bytes on average, more than real paths have, so
    // the records are allocated once without a pass to count the lines;
    // room that stays unused is never touched and takes no memory.
    list.reserveEntries(list.size() + size_t(end - (base + from)) / 40 + 16);
    ForEachListLine(base + from, end, [&](const char* b, const char* e) {
        list.addSpan(size_t(b - base), size_t(e - b));
    });
}

// Makes entries of a list's text while it is being read, a piece at a time:
// each piece is looked at right after the read put it there, while it is
// still in the cache, and for a NUL in the same pass that finds the line
// ends. The rules are those of ForEachListLine; a CR at the end of a piece may
// be the first half of a CR LF, which only the next piece tells.
class LineIndexer {
public:
    // Indexes the bytes from the last call up to `end` (offsets in the
    // list's text, which may have moved since). Returns the offset of the
    // first NUL among them, or `end` when there is none.
    size_t Feed(PathList& list, size_t end) {
        const char* base = list.text();
        size_t q = pos_;
        if (pendingCr_ && q < end) {
            pendingCr_ = false;
            if (base[q] == '\n')
                start_ = ++q;
        }
        auto endLine = [&](size_t e) {
            list.addSpan(start_, e - start_);
            if (base[e] == '\n' || e + 1 < end) {
                start_ = base[e] == '\r' && base[e + 1] == '\n' ? e + 2 : e + 1;
            } else {
                start_ = e + 1;
                pendingCr_ = true;
            }
        };
#if defined(__SSE2__)
        const __m128i lf = _mm_set1_epi8('\n');
        const __m128i cr = _mm_set1_epi8('\r');
        const __m128i nul = _mm_setzero_si128();
        for (; end - q >= 16; q += 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + q));
            unsigned marks = unsigned(_mm_movemask_epi8(
                _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, lf), _mm_cmpeq_epi8(bytes, cr)),
                             _mm_cmpeq_epi8(bytes, nul))));
            for (; marks != 0; marks &= marks - 1) {
                const size_t e = q + size_t(__builtin_ctz(marks));
                if (base[e] == '\0')
                    return pos_ = e;
                if (e >= start_)
                    endLine(e);
            }
        }
#endif
        for (; q < end; ++q) {
            if (base[q] == '\0')
                return pos_ = q;
            if ((base[q] == '\n' || base[q] == '\r') && q >= start_)
                endLine(q);
        }
        return pos_ = end;
    }

    // The text ends at `end`: a last line without a line end is a line.
    void Finish(PathList& list, size_t end) {
        if (start_ < end)
            list.addSpan(start_, end - start_);
    }

private:
    size_t start_ = 0; // where the open line begins
    size_t pos_ = 0;   // the first byte not looked at yet
    bool pendingCr_ = false;
};

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

// The folder does not let this user add a name, so the new content cannot be
// prepared beside the file and renamed over it; but the file itself may be
// written, and its owner expects a save to work. Here alone the content is
// replaced in place, which is not atomic: a crash or a full disk in the
// middle leaves the file cut short. Better than not saving at all.
void rewriteInPlace(const QByteArray& path, const QByteArray& target,
                    const std::function<int(int)>& write) {
    // Not blocking on open: should a pipe have taken the file's place since
    // it was looked at, the check below turns it away instead of hanging.
    FileDescriptor file(::open(target.constData(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (file.Get() < 0)
        throw createError(path, errno);
    struct stat st {};
    if (::fstat(file.Get(), &st) != 0)
        throw createError(path, errno);
    if (!S_ISREG(st.st_mode))
        throw fileError("Cannot create file", path, "Not a regular file");
    if (::ftruncate(file.Get(), 0) != 0)
        throw createError(path, errno);
    if (const int error = write(file.Get()))
        throw createError(path, error);
    if (::fsync(file.Get()) != 0)
        throw createError(path, errno);
    if (const int error = file.Close())
        throw createError(path, error);
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

PathList SplitListText(const char* text, size_t size) {
    if (const void* nul = std::memchr(text, '\0', size))
        size = size_t(static_cast<const char*>(nul) - text);
    PathList lines;
    if (size > 0) {
        std::memcpy(lines.growText(size), text, size);
        lines.commitText(size);
    }
    indexLines(lines, 0);
    return lines;
}

namespace {

// Opens a playlist file for reading and returns its size; see ReadListFile
// for what is refused.
off_t openListFile(const QByteArray& path, FileDescriptor& file) {
    // Not blocking on open keeps a named pipe typed into the dialog from
    // freezing the window until it is refused below.
    file.Reset(::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.Get() < 0)
        throw openError(path, errno);
    // Only a regular file is a playlist: a device may never end (/dev/zero),
    // block or change state when it is read, and a pipe may never be written.
    struct stat st {};
    if (::fstat(file.Get(), &st) != 0)
        throw openError(path, errno);
    if (S_ISDIR(st.st_mode))
        throw openError(path, EISDIR);
    if (!S_ISREG(st.st_mode))
        throw fileError("Cannot open file", path, "Not a regular file");
    // The size is a hint for the buffer only: a sparse file may claim
    // terabytes and a growing one more than it said, so the limit is also
    // kept while reading.
    if (st.st_size > MaxListFileSize)
        throw tooLarge(path);
    return st.st_size;
}

} // namespace

namespace {

// Reads a list file into `text` in pieces that stay in the cache between the
// read and `piece`, which looks at each (its start and length in the text
// read so far) and says whether to read on. The size limit is kept while
// reading, since the size the file claimed is a hint only.
template <typename Piece> void readInPieces(const QByteArray& path, PathList& text, Piece piece) {
    FileDescriptor file(-1);
    const off_t size = openListFile(path, file);
    text.reserve(0, size_t(size) + 1); // one more, to see the end without growing
    constexpr size_t chunk = size_t(512) << 10;
    for (;;) {
        size_t room = text.capacityBytes() - text.textBytes();
        room = room == 0 ? 64 * 1024 : std::min(room, chunk);
        char* at = text.growText(room);
        prefault(at, room);
        const ssize_t n = ::read(file.Get(), at, room);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw openError(path, errno);
        }
        if (n == 0)
            break;
        if (!piece(at, size_t(n)))
            break;
        if (qint64(text.textBytes()) > MaxListFileSize)
            throw tooLarge(path);
    }
}

} // namespace

PathList ReadListFile(const QByteArray& path, bool* cutShort) {
    if (cutShort)
        *cutShort = false;
    PathList lines;
    LineIndexer indexer;
    bool first = true;
    readInPieces(path, lines, [&](const char*, size_t n) {
        // Room for lines of 40 bytes on average, as indexLines gives.
        if (first) {
            lines.reserveEntries(lines.capacityBytes() / 40 + 16);
            first = false;
        }
        const size_t end = lines.textBytes() + n;
        const size_t text = indexer.Feed(lines, end);
        lines.commitText(text - lines.textBytes());
        // Nothing after a NUL counts, so there is no need to read on.
        if (text < end) {
            if (cutShort)
                *cutShort = true;
            return false;
        }
        return true;
    });
    indexer.Finish(lines, lines.textBytes());
    lines.shrinkText();
    return lines;
}

PathList ReadListText(const QByteArray& path, bool* holdsNul) {
    PathList text;
    bool nul = false;
    readInPieces(path, text, [&](const char* at, size_t n) {
        if (holdsNul && !nul)
            nul = std::memchr(at, '\0', n) != nullptr;
        text.commitText(n);
        return true;
    });
    if (holdsNul)
        *holdsNul = nul;
    return text;
}

namespace {

// Removes a temporary file on every way out, a thrown exception included,
// unless it became the file it was made for.
class TemporaryName {
public:
    ~TemporaryName() {
        if (!path.isEmpty() && !kept)
            ::unlink(path.constData());
    }
    QByteArray path;
    bool kept = false;
};

// Writes the new content, following a link to the file it points to, by
// `write(fd)`, which returns 0 or the error of a write that failed. See
// SaveListFile for the rules; `path` is the name errors are told with.
void replaceFile(const QByteArray& path, mode_t mode, const std::function<int(int)>& write) {
    // A link to a playlist stays a link: the file it points to is replaced.
    QByteArray target = path;
    struct stat st {};
    if (::lstat(path.constData(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(path.constData(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    bool replacing = false;
    if (::stat(target.constData(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            throw createError(path, EISDIR);
        // A device, a pipe or a socket is never renamed over: a list linked
        // to /dev/null must leave /dev/null as it is.
        if (!S_ISREG(st.st_mode))
            throw fileError("Cannot create file", path, "Not a regular file");
        // The rename needs only the folder's permission; the file's own
        // (read-only, or another user's) must be honoured all the same.
        if (::faccessat(AT_FDCWD, target.constData(), W_OK, AT_EACCESS) != 0)
            throw createError(path, errno);
        replacing = true;
    }

    // The new file is written beside the old one, so that the final rename
    // stays on one file system and replaces the old content in one step.
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = slash < 0    ? QByteArray(".")
                              : slash == 0 ? QByteArray("/")
                                           : target.left(slash);
    // The name is kept short enough for the longest file names.
    const QByteArray stem = folder + "/." + target.mid(slash + 1).left(200) + '.';
    TemporaryName temporary;
    int fd = -1;
    int error = 0;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        const QByteArray name = stem + randomSuffix();
        // O_EXCL and O_NOFOLLOW: a name planted in a shared folder is never
        // written through.
        fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    replacing ? 0600 : mode);
        error = errno;
        if (fd < 0) {
            if (error != EEXIST)
                break;
            continue;
        }
        // The lock, held up to the rename, tells the start of another copy
        // that this save is under way (see AutomaticPlaylist). That start may
        // take the name away between open and flock; another name is made
        // then. Where the file system has no locks, the save goes on without.
        struct stat made {};
        const bool taken = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
        if (taken || (::fstat(fd, &made) == 0 && made.st_nlink == 0)) {
            ::close(fd);
            fd = -1;
            error = EEXIST;
            continue;
        }
        temporary.path = name;
    }
    if (fd < 0) {
        if (replacing && (error == EACCES || error == EPERM))
            return rewriteInPlace(path, target, write);
        throw createError(path, error);
    }
    FileDescriptor file(fd);
    if (replacing)
        takeOwnerAndMode(fd, st);
    if (const int writeError = write(fd))
        throw createError(path, writeError);
    if (::fsync(fd) != 0)
        throw createError(path, errno);
    // A second descriptor of the same open file keeps the lock up to the
    // rename, past the close that reports a late write error.
    const FileDescriptor lock(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
    if (const int closeError = file.Close())
        throw createError(path, closeError);
    if (::rename(temporary.path.constData(), target.constData()) != 0)
        throw createError(path, errno);
    temporary.kept = true;
    // The rename itself lasts through a crash only once the folder is on disk.
    FileDescriptor dir(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() >= 0)
        ::fsync(dir.Get());
}

// Returns 0 or the error of the first write that failed.
int writeLines(int fd, const PathList& lines) {
    constexpr qsizetype chunk = 1 << 20;
    QByteArray buffer;
    buffer.reserve(chunk + 4096);
    for (size_t i = 0; i < lines.size(); ++i) {
        const QByteArrayView line = lines[i];
        buffer.append(line).append("\r\n", 2);
        if (buffer.size() >= chunk) {
            if (const int error = writeAll(fd, buffer.constData(), size_t(buffer.size())))
                return error;
            buffer.resize(0);
        }
    }
    return writeAll(fd, buffer.constData(), size_t(buffer.size()));
}

} // namespace

void SaveListFile(const QByteArray& path, const PathList& lines, mode_t mode) {
    replaceFile(path, mode, [&lines](int fd) { return writeLines(fd, lines); });
}

void SaveListBytes(const QByteArray& path, QByteArrayView bytes, mode_t mode) {
    replaceFile(path, mode,
                [bytes](int fd) { return writeAll(fd, bytes.data(), size_t(bytes.size())); });
}

void CopyListFile(const QByteArray& from, const QByteArray& to, mode_t mode) {
    FileDescriptor source(::open(from.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (source.Get() < 0)
        throw openError(from, errno);
    if (::fstat(source.Get(), &st) != 0)
        throw openError(from, errno);
    if (!S_ISREG(st.st_mode))
        throw fileError("Cannot open file", from, "Not a regular file");
    int readError = 0;
    try {
        replaceFile(to, mode, [&](int fd) {
            QByteArray buffer(1 << 16, Qt::Uninitialized);
            for (;;) {
                const ssize_t n = ::read(source.Get(), buffer.data(), size_t(buffer.size()));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0) {
                    readError = errno;
                    return readError;
                }
                if (n == 0)
                    return 0;
                if (const int error = writeAll(fd, buffer.constData(), size_t(n)))
                    return error;
            }
        });
    } catch (const EFileError&) {
        // A failed read is told as what it is, not as a failed write.
        if (readError)
            throw openError(from, readError);
        throw;
    }
}
