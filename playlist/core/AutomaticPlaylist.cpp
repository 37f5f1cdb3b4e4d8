#include "playlist/core/AutomaticPlaylist.h"

#include "platform/StatePaths.h"
#include "playlist/core/PlaylistFile.h"

#include <QFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char FileName[] = "PlayList.plf";

void toStandardError(const QByteArray& line) {
    std::fprintf(stderr, "tolvane: %s\n", line.constData());
}

QByteArray quoted(const QByteArray& path) {
    return '"' + path + '"';
}

bool isSuffixLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The names SaveListFile gives its temporary files for the playlist and its
// backup: ".PlayList.plf." or ".PlayList.plf.bak." and eight letters.
bool isTemporaryName(QByteArrayView name) {
    const QByteArrayView stem = ".PlayList.plf.";
    if (!name.startsWith(stem))
        return false;
    name = name.sliced(stem.size());
    if (name.startsWith("bak."))
        name = name.sliced(4);
    if (name.size() != 8)
        return false;
    for (const char c : name)
        if (!isSuffixLetter(c))
            return false;
    return true;
}

} // namespace

AutomaticPlaylist::AutomaticPlaylist(QByteArray folder, Warn warn)
    : folder_(std::move(folder)), path_(folder_ + '/' + FileName), warn_(std::move(warn)) {
    if (!warn_)
        warn_ = toStandardError;
}

bool AutomaticPlaylist::safeToUse() {
    // As for a private key's folder: a folder that another user owns, or
    // that others may write, could have the playlist swapped or read under
    // us. A folder that is not there yet is made private when it is needed.
    QByteArray why;
    struct stat st {};
    const uid_t me = ::geteuid();
    if (::lstat(folder_.constData(), &st) == 0) {
        if (S_ISLNK(st.st_mode) && st.st_uid != me)
            why = "it is a link that another user made";
        else if (::stat(folder_.constData(), &st) == 0 && S_ISDIR(st.st_mode)) {
            if (st.st_uid != me)
                why = "it belongs to another user";
            else if (st.st_mode & (S_IWGRP | S_IWOTH))
                why = "others may write to it";
        }
    }
    if (why.isEmpty() && ::lstat(path_.constData(), &st) == 0 && S_ISLNK(st.st_mode) &&
        st.st_uid != me)
        why = quoted(FileName) + " there is a link that another user made";
    if (why.isEmpty())
        return true;
    if (!warnedUnsafe_)
        warn_("not using " + quoted(folder_) + " for the playlist: " + why);
    warnedUnsafe_ = true;
    return false;
}

PathList AutomaticPlaylist::Read() {
    if (!safeToUse())
        return {};
    RemoveLeftovers();
    // A missing playlist is the first run, not a fault; a folder of that
    // name is no playlist either. Anything else that is there but cannot be
    // read (no access to the state folder, say) is reported.
    struct stat st {};
    if (::stat(path_.constData(), &st) != 0 ? errno == ENOENT || errno == ENOTDIR
                                            : S_ISDIR(st.st_mode))
        return {};
    bool cutShort = false;
    PathList lines;
    try {
        lines = ReadListFile(path_, &cutShort);
    } catch (...) {
        unread_ = true;
        throw;
    }
    if (cutShort) {
        // Saving what was read would throw away everything after the NUL
        // byte (all of a UTF-16 list, say): the whole file is kept first.
        const QByteArray backup = path_ + ".bak";
        try {
            CopyListFile(path_, backup);
            warn_(quoted(path_) + " was read only up to a NUL byte; the whole file is kept as " +
                  quoted(backup));
        } catch (const EFileError& error) {
            unread_ = true;
            warn_(quoted(path_) + " was read only up to a NUL byte and cannot be kept (" +
                  error.what() + "); it will be left as it is");
        }
    }
    return lines;
}

void AutomaticPlaylist::Save(const PathList& lines) {
    if (unread_) {
        warn_("the playlist is not saved: " + quoted(path_) +
              " could not be read at start and is left as it is");
        return;
    }
    // The playlist says what the user listens to: it is kept private.
    MakePrivateFolder(folder_);
    if (!safeToUse())
        throw EFileError("Cannot create file " + quoted(path_).toStdString() + ". " +
                         std::strerror(EACCES));
    SaveListFile(path_, lines, 0600);
}

void AutomaticPlaylist::RemoveLeftovers() {
    const int fd = ::open(folder_.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return;
    }
    const uid_t me = ::geteuid();
    // A save holds a lock on its temporary file until it is renamed, so a
    // file that can be locked belongs to a save that died: no clock is
    // asked, and a save of another running copy, however young or frozen,
    // keeps its file.
    while (const dirent* entry = ::readdir(dir)) {
        if (!isTemporaryName(entry->d_name))
            continue;
        const int file =
            ::openat(fd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (file < 0)
            continue;
        struct stat opened {
        }, named{};
        if (::fstat(file, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_uid == me &&
            ::flock(file, LOCK_EX | LOCK_NB) == 0 &&
            ::fstatat(fd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            named.st_dev == opened.st_dev && named.st_ino == opened.st_ino)
            ::unlinkat(fd, entry->d_name, 0);
        ::close(file);
    }
    ::closedir(dir);
}
