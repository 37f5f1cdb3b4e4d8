#include "trackinfo/core/CoverArt.h"

#include <QCryptographicHash>
#include <algorithm>
#include <array>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::array<const char*, 5> Extensions = {"jpg", "png", "gif", "bmp", "webp"};
const QByteArray TemporaryPrefix = ".picture-";

// Makes every missing folder of `path` for this user alone: pictures from
// the user's music are nobody else's business.
bool makeFolders(const QByteArray& path) {
    for (qsizetype slash = path.indexOf('/', 1);; slash = path.indexOf('/', slash + 1)) {
        const QByteArray part = slash < 0 ? path : path.first(slash);
        if (::mkdir(part.constData(), 0700) != 0 && errno != EEXIST)
            return false;
        if (slash < 0)
            break;
    }
    struct stat info {};
    return ::stat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool writeAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        done += put;
    }
    return true;
}

// A name this cache gave: 64 hexadecimal digits of the hash and an extension.
bool isCacheName(const QByteArray& name) {
    const qsizetype dot = name.indexOf('.');
    if (dot != 64)
        return false;
    for (char c : name.first(64))
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    const QByteArray extension = name.sliced(65);
    return std::any_of(Extensions.begin(), Extensions.end(),
                       [&](const char* known) { return extension == known; });
}

struct CacheFile {
    QByteArray name;
    timespec used;
    qint64 size;
};

// Keeps the cache within its bounds, the pictures used longest ago going
// first; `keep` (the picture just asked for) stays. Temporary files of a
// write that never finished are removed once they are an hour old.
void trimCache(const QByteArray& folder, const QByteArray& keep) {
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        return;
    std::vector<CacheFile> files;
    const time_t now = ::time(nullptr);
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        const QByteArray path = folder + '/' + name;
        struct stat info {};
        if (::lstat(path.constData(), &info) != 0 || !S_ISREG(info.st_mode))
            continue;
        if (name.startsWith(TemporaryPrefix) && now - info.st_mtime > 3600)
            ::unlink(path.constData());
        else if (isCacheName(name) && name != keep)
            files.push_back({name, info.st_mtim, qint64(info.st_size)});
        else if (name == keep)
            files.push_back({name, {now, 0}, qint64(info.st_size)});
    }
    ::closedir(dir);
    std::sort(files.begin(), files.end(), [](const CacheFile& a, const CacheFile& b) {
        return std::tie(a.used.tv_sec, a.used.tv_nsec, a.name) <
               std::tie(b.used.tv_sec, b.used.tv_nsec, b.name);
    });
    qsizetype count = qsizetype(files.size());
    qint64 bytes = 0;
    for (const CacheFile& file : files)
        bytes += file.size;
    for (const CacheFile& file : files) {
        if (count <= CoverCacheMaxFiles && bytes <= CoverCacheMaxBytes)
            break;
        if (file.name == keep)
            continue;
        if (::unlink((folder + '/' + file.name).constData()) == 0) {
            --count;
            bytes -= file.size;
        }
    }
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

} // namespace

QByteArray CoverCacheFolder() {
    const QByteArray cache = qgetenv("XDG_CACHE_HOME");
    if (cache.startsWith('/'))
        return cache + "/tolvane";
    const QByteArray home = qgetenv("HOME");
    if (home.startsWith('/'))
        return home + "/.cache/tolvane";
    return {};
}

QByteArray PictureExtension(const QByteArray& picture) {
    if (picture.startsWith("\xff\xd8\xff"))
        return "jpg";
    if (picture.startsWith("\x89PNG\r\n\x1a\n"))
        return "png";
    if (picture.startsWith("GIF87a") || picture.startsWith("GIF89a"))
        return "gif";
    if (picture.startsWith("BM") && picture.size() > 26)
        return "bmp";
    if (picture.startsWith("RIFF") && picture.mid(8, 4) == "WEBP")
        return "webp";
    return {};
}

QByteArray CachedPicturePath(const QByteArray& picture, const QByteArray& folder) {
    const QByteArray extension = PictureExtension(picture);
    if (extension.isEmpty() || !folder.startsWith('/') || folder.contains('\0') ||
        picture.size() > CoverCacheMaxBytes)
        return {};
    const QByteArray name =
        QCryptographicHash::hash(picture, QCryptographicHash::Sha256).toHex() + '.' + extension;
    const QByteArray path = folder + '/' + name;
    struct stat info {};
    if (::lstat(path.constData(), &info) == 0 && S_ISREG(info.st_mode) &&
        qint64(info.st_size) == picture.size()) {
        // Used again: it is the last the trimming may take.
        ::utimensat(AT_FDCWD, path.constData(), nullptr, 0);
        return path;
    }
    if (!makeFolders(folder))
        return {};
    // Written aside and renamed, so that the desktop, or another copy of the
    // player asking for the same picture, never reads half a picture.
    QByteArray temporary = folder + '/' + TemporaryPrefix + "XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return {};
    bool written = writeAll(fd, picture);
    written = ::close(fd) == 0 && written;
    if (!written || ::rename(temporary.constData(), path.constData()) != 0) {
        ::unlink(temporary.constData());
        return {};
    }
    trimCache(folder, name);
    return path;
}

QByteArray PictureBesidePath(const QByteArray& mediaPath) {
    const qsizetype slash = mediaPath.lastIndexOf('/');
    if (slash < 0 || mediaPath.contains('\0'))
        return {};
    const QByteArray folder = slash == 0 ? QByteArray("/") : mediaPath.first(slash);
    static const std::array<QByteArray, 3> names = {"cover", "folder", "front"};
    static const std::array<QByteArray, 3> extensions = {"jpg", "jpeg", "png"};
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        return {};
    QByteArray best;
    size_t bestRank = names.size() * extensions.size();
    while (const dirent* entry = ::readdir(dir)) {
        QByteArray name(entry->d_name);
        const qsizetype dot = name.lastIndexOf('.');
        if (dot < 0)
            continue;
        QByteArray lowered = name;
        std::transform(lowered.begin(), lowered.end(), lowered.begin(), lower);
        const auto base = std::find(names.begin(), names.end(), lowered.first(dot));
        const auto extension =
            std::find(extensions.begin(), extensions.end(), lowered.sliced(dot + 1));
        if (base == names.end() || extension == extensions.end())
            continue;
        const size_t rank = size_t(base - names.begin()) * extensions.size() +
                            size_t(extension - extensions.begin());
        const QByteArray path = (slash == 0 ? QByteArray() : folder) + '/' + name;
        struct stat info {};
        if (rank < bestRank && ::stat(path.constData(), &info) == 0 && S_ISREG(info.st_mode)) {
            best = path;
            bestRank = rank;
        }
    }
    ::closedir(dir);
    return best;
}

QByteArray CoverArtUrl(const QByteArray& mediaPath, const QByteArray& embeddedPicture,
                       const QByteArray& cacheFolder) {
    if (!embeddedPicture.isEmpty())
        if (const QByteArray cached = CachedPicturePath(embeddedPicture, cacheFolder);
            !cached.isEmpty())
            return FileUrl(cached);
    const QByteArray beside = PictureBesidePath(mediaPath);
    return beside.isEmpty() ? QByteArray() : FileUrl(beside);
}

QByteArray FileUrl(const QByteArray& path) {
    return "file://" + path.toPercentEncoding("/");
}
