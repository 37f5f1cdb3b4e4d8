#include "playlist/MediaSearch.h"

#include "playlist/PlaylistFile.h"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

QByteArray PathExtension(const QByteArray& path) {
    for (qsizetype i = path.size() - 1; i >= 0; --i) {
        const char c = path[i];
        if (c == '.')
            return path.mid(i);
        if (c == '/' || c == '\\' || c == ':')
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

bool IsFolder(const QByteArray& path, bool orElse) {
    struct stat st {};
    if (::stat(path.constData(), &st) != 0)
        return orElse;
    return S_ISDIR(st.st_mode);
}

namespace {

enum class Kind { File, Folder, Other };

Kind entryKind(int folderFd, const dirent* entry) {
    switch (entry->d_type) {
    case DT_REG:
        return Kind::File;
    case DT_DIR:
        return Kind::Folder;
    case DT_LNK:
    case DT_UNKNOWN: {
        struct stat st {};
        if (::fstatat(folderFd, entry->d_name, &st, 0) != 0)
            return Kind::Other;
        if (S_ISREG(st.st_mode))
            return Kind::File;
        return S_ISDIR(st.st_mode) ? Kind::Folder : Kind::Other;
    }
    default:
        return Kind::Other;
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

class Search {
public:
    Search(const QByteArray& mask, bool recurse, std::vector<QByteArray>& result)
        : everyName_(mask == "*.*" || mask == "*"), mask_(mask), recurse_(recurse),
          result_(result) {}

    void Folder(const QByteArray& folder) {
        struct stat st {};
        DIR* dir = openFolder(folder, &st);
        if (!dir)
            return;
        if (!visited_.emplace(st.st_dev, st.st_ino).second) {
            ::closedir(dir);
            return;
        }
        // A folder's own files come first; its subfolders are searched after
        // the listing is closed, so that a deep tree holds one open folder
        // at a time.
        std::vector<QByteArray> subfolders;
        while (const dirent* entry = ::readdir(dir)) {
            const char* name = entry->d_name;
            // A name with a line break cannot be a playlist line, nor can
            // anything found below a folder of such a name.
            if (isDotOrDotDot(name) || !IsStorablePath(name))
                continue;
            const Kind kind = entryKind(::dirfd(dir), entry);
            if (kind == Kind::File && matches(name))
                result_.push_back(folder + name);
            else if (kind == Kind::Folder && recurse_ && name[0] != '.')
                subfolders.push_back(folder + name + '/');
        }
        ::closedir(dir);
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
    while (const dirent* entry = ::readdir(dir)) {
        if (!isDotOrDotDot(entry->d_name) && IsStorablePath(entry->d_name) &&
            entryKind(::dirfd(dir), entry) == Kind::File)
            files.push_back(prefix + entry->d_name);
    }
    ::closedir(dir);
    return files;
}
