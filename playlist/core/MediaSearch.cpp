#include "playlist/core/MediaSearch.h"

#include "playlist/core/PlaylistFile.h"

#include <QChar>

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <linux/magic.h>
#include <set>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <utility>

QByteArray PathExtension(const QByteArray& path) {
    for (qsizetype i = path.size() - 1; i >= 0; --i) {
        const char c = path[i];
        if (c == '.')
            return path.mid(i);
        if (c == '/')
            break;
    }
    return {};
}

bool IsMediaFile(const QByteArray& path) {
    QByteArray extension = PathExtension(path);
    // Only A to Z are lowered: other bytes may be parts of a multi-byte name.
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return std::find(MediaExtensions.begin(), MediaExtensions.end(), extension) !=
           MediaExtensions.end();
}

void FilterMediaFiles(std::vector<QByteArray>& paths) {
    paths.erase(std::remove_if(paths.begin(), paths.end(),
                               [](const QByteArray& path) { return !IsMediaFile(path); }),
                paths.end());
}

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The next character of a name from `at` on, case-folded, and moves `at`
// past it. UTF-8 sequences are decoded; a byte that starts none counts as
// itself, so names that are not UTF-8 still have an order.
char32_t nextFolded(const char* name, size_t size, size_t& at) {
    const auto b = static_cast<unsigned char>(name[at]);
    if (b < 0x80) {
        ++at;
        return b >= 'A' && b <= 'Z' ? char32_t(b - 'A' + 'a') : char32_t(b);
    }
    const int length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    if (length == 1 || at + size_t(length) > size) {
        ++at;
        return b;
    }
    char32_t code = b & (0x3F >> (length - 1));
    for (int i = 1; i < length; ++i) {
        const auto c = static_cast<unsigned char>(name[at + size_t(i)]);
        if ((c & 0xC0) != 0x80) {
            ++at;
            return b;
        }
        code = (code << 6) | (c & 0x3F);
    }
    at += size_t(length);
    return QChar::toCaseFolded(code);
}

} // namespace

int CompareNames(QByteArrayView a, QByteArrayView b) {
    const size_t na = size_t(a.size()), nb = size_t(b.size());
    // Names of one folder often share a long beginning ("Track 01 - ..."):
    // an equal beginning orders nothing, so the comparison starts where the
    // bytes first differ, moved back to the start of a character and of a
    // run of digits.
    size_t same = 0;
    while (same < na && same < nb && a[qsizetype(same)] == b[qsizetype(same)])
        ++same;
    const auto inCharacter = [](QByteArrayView name, size_t at) {
        return at < size_t(name.size()) &&
               (static_cast<unsigned char>(name[qsizetype(at)]) & 0xC0) == 0x80;
    };
    while (same > 0 &&
           (inCharacter(a, same) || inCharacter(b, same) || isDigit(a[qsizetype(same - 1)])))
        --same;
    size_t i = same, j = same;
    while (i < na && j < nb) {
        if (isDigit(a[qsizetype(i)]) && isDigit(b[qsizetype(j)])) {
            // Numbers compare by value: leading zeros skipped, then the
            // longer run of digits is the larger number.
            size_t si = i, sj = j;
            while (si < na && a[qsizetype(si)] == '0')
                ++si;
            while (sj < nb && b[qsizetype(sj)] == '0')
                ++sj;
            size_t ei = si, ej = sj;
            while (ei < na && isDigit(a[qsizetype(ei)]))
                ++ei;
            while (ej < nb && isDigit(b[qsizetype(ej)]))
                ++ej;
            if (ei - si != ej - sj)
                return ei - si < ej - sj ? -1 : 1;
            if (const int digits = std::memcmp(a.data() + si, b.data() + sj, ei - si))
                return digits < 0 ? -1 : 1;
            i = ei;
            j = ej;
            continue;
        }
        const char32_t ca = nextFolded(a.data(), na, i), cb = nextFolded(b.data(), nb, j);
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    if (i < na || j < nb)
        return i < na ? 1 : -1;
    // Names that differ only in case or leading zeros still get one order.
    const int bytes = a.compare(b);
    return bytes < 0 ? -1 : bytes > 0 ? 1 : 0;
}

bool IsFolder(const QByteArray& path, bool orElse) {
    struct stat st {};
    if (::stat(path.constData(), &st) != 0)
        return orElse;
    return S_ISDIR(st.st_mode);
}

namespace {

enum class Kind { File, Folder, Other };

constexpr const char* KernelFolders[] = {"/proc", "/sys", "/dev"};

// The devices of /proc, /sys and /dev: the kernel's view of processes and
// devices rather than files. Their "files" come and go with processes and
// read as endless or empty. Where one of them is a plain folder of the root
// file system (in some containers), its device is every file's.
std::set<dev_t> kernelDevices() {
    std::set<dev_t> devices;
    struct stat root {};
    if (::stat("/", &root) != 0)
        return devices;
    for (const char* folder : KernelFolders) {
        struct stat st {};
        if (::stat(folder, &st) == 0 && st.st_dev != root.st_dev)
            devices.insert(st.st_dev);
    }
    return devices;
}

// A link counts as the file it leads to (unless that lies in the kernel's
// folders), but never as a folder: a search does not follow links to
// folders (as find does not), so that a link into /proc, to a parent or to
// another disk does not pull in a tree the user did not choose.
Kind entryKind(int folderFd, const dirent* entry, const std::set<dev_t>& kernel) {
    struct stat st {};
    switch (entry->d_type) {
    case DT_REG:
        return Kind::File;
    case DT_DIR:
        return Kind::Folder;
    case DT_UNKNOWN:
        if (::fstatat(folderFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            return Kind::Other;
        if (S_ISREG(st.st_mode))
            return Kind::File;
        if (S_ISDIR(st.st_mode))
            return Kind::Folder;
        if (!S_ISLNK(st.st_mode))
            return Kind::Other;
        [[fallthrough]];
    case DT_LNK:
        return ::fstatat(folderFd, entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode) &&
                       !kernel.count(st.st_dev)
                   ? Kind::File
                   : Kind::Other;
    default:
        return Kind::Other;
    }
}

// The same, wherever such a file system is mounted (a container's /proc).
bool isKernelFileSystem(int fd) {
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0)
        return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEVPTS_SUPER_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case BPF_FS_MAGIC:
        return true;
    default:
        return false;
    }
}

bool isDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Opens a folder for listing; nullptr when it cannot be read.
DIR* openFolder(const QByteArray& folder, struct stat* st) {
    const int fd =
        ::open(folder.isEmpty() ? "." : folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    DIR* dir = ::fstat(fd, st) == 0 ? ::fdopendir(fd) : nullptr;
    if (!dir)
        ::close(fd);
    return dir;
}

// Sorts paths of one folder by their names, which begin at `nameStart`.
template <class Iterator> void SortByName(Iterator first, Iterator last, qsizetype nameStart) {
    std::sort(first, last, [nameStart](const QByteArray& a, const QByteArray& b) {
        return CompareNames(QByteArrayView(a).sliced(nameStart),
                            QByteArrayView(b).sliced(nameStart)) < 0;
    });
}

class Search {
public:
    Search(const QByteArray& mask, bool recurse, std::vector<QByteArray>& result)
        : everyName_(mask == "*.*" || mask == "*"), mask_(mask), recurse_(recurse),
          result_(result) {
        // Counted as searched, these are not entered even where they are
        // plain folders.
        for (const char* folder : KernelFolders) {
            struct stat st {};
            if (::stat(folder, &st) == 0)
                visited_.emplace(st.st_dev, st.st_ino);
        }
    }

    void Folder(const QByteArray& folder) {
        struct stat st {};
        DIR* dir = openFolder(folder, &st);
        if (!dir)
            return;
        // /dev is a tmpfs like /tmp to fstatfs, so it is known by its device.
        if (kernel_.count(st.st_dev) || isKernelFileSystem(::dirfd(dir)) ||
            !visited_.emplace(st.st_dev, st.st_ino).second) {
            ::closedir(dir);
            return;
        }
        // A folder's own files come first; its subfolders are searched after
        // the listing is closed, so that a deep tree holds one open folder
        // at a time.
        std::vector<QByteArray> subfolders;
        const size_t firstFile = result_.size();
        while (const dirent* entry = ::readdir(dir)) {
            const char* name = entry->d_name;
            // A name with a line break cannot be a playlist line, nor can
            // anything found below a folder of such a name.
            if (isDotOrDotDot(name) || !IsStorablePath(name))
                continue;
            const Kind kind = entryKind(::dirfd(dir), entry, kernel_);
            if (kind == Kind::File && matches(name))
                result_.push_back(folder + name);
            else if (kind == Kind::Folder && recurse_ && name[0] != '.')
                subfolders.push_back(folder + name + '/');
        }
        ::closedir(dir);
        SortByName(result_.begin() + qsizetype(firstFile), result_.end(), folder.size());
        SortByName(subfolders.begin(), subfolders.end(), folder.size());
        for (const QByteArray& subfolder : subfolders)
            Folder(subfolder);
    }

private:
    bool matches(const char* name) const {
        return everyName_ || ::fnmatch(mask_.constData(), name, FNM_CASEFOLD) == 0;
    }

    const bool everyName_;
    const QByteArray mask_;
    const bool recurse_;
    std::vector<QByteArray>& result_;
    const std::set<dev_t> kernel_ = kernelDevices();
    std::set<std::pair<dev_t, ino_t>> visited_;
};

} // namespace

void SearchFiles(const QByteArray& folder, const QByteArray& mask, bool recurse,
                 std::vector<QByteArray>& result) {
    QByteArray start = folder;
    if (!start.isEmpty() && !start.endsWith('/'))
        start += '/';
    if (!start.isEmpty() && !IsStorablePath(start))
        return;
    Search(mask, recurse, result).Folder(start);
}

std::vector<QByteArray> FolderFiles(const QByteArray& folder) {
    std::vector<QByteArray> files;
    struct stat st {};
    DIR* dir = IsStorablePath(folder) ? openFolder(folder, &st) : nullptr;
    if (!dir)
        return files;
    const QByteArray prefix = folder + '/';
    const std::set<dev_t> kernel = kernelDevices();
    while (const dirent* entry = ::readdir(dir)) {
        if (!isDotOrDotDot(entry->d_name) && IsStorablePath(entry->d_name) &&
            entryKind(::dirfd(dir), entry, kernel) == Kind::File)
            files.push_back(prefix + entry->d_name);
    }
    ::closedir(dir);
    SortByName(files.begin(), files.end(), prefix.size());
    return files;
}
