#include "playlist/core/AutomaticPlaylist.h"

#include "platform/StatePaths.h"
#include "playlist/core/PlaylistFile.h"

#include <QFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
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

bool before(const timespec& a, const timespec& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

} // namespace

timespec ProcessStartTime() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    // The start in clock ticks after boot is field 22 of /proc/self/stat,
    // counted from the ")" that ends the program's name; the boot time is
    // "btime" in /proc/stat. Both are rounded down, so the time found is
    // never later than the real start.
    QFile stat(QStringLiteral("/proc/self/stat"));
    QFile system(QStringLiteral("/proc/stat"));
    if (!stat.open(QIODevice::ReadOnly) || !system.open(QIODevice::ReadOnly))
        return now;
    const QByteArray self = stat.readAll();
    const QList<QByteArray> fields = self.mid(self.lastIndexOf(')') + 2).split(' ');
    long long bootTime = -1;
    for (const QByteArray& line : system.readAll().split('\n'))
        if (line.startsWith("btime "))
            bootTime = line.mid(6).trimmed().toLongLong();
    const long ticks = ::sysconf(_SC_CLK_TCK);
    if (fields.size() < 20 || bootTime < 0 || ticks <= 0)
        return now;
    const long long startTicks = fields[19].toLongLong();
    timespec start{};
    start.tv_sec = time_t(bootTime + startTicks / ticks);
    start.tv_nsec = long((startTicks % ticks) * (1000000000LL / ticks));
    return before(start, now) ? start : now;
}

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
    RemoveLeftovers(ProcessStartTime());
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

void AutomaticPlaylist::RemoveLeftovers(const timespec& startedAt) {
    const int fd = ::open(folder_.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return;
    }
    const uid_t me = ::geteuid();
    // A save that another running copy has under way is younger than this
    // process and stays.
    while (const dirent* entry = ::readdir(dir)) {
        struct stat st {};
        if (isTemporaryName(entry->d_name) &&
            ::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            st.st_uid == me && before(st.st_mtim, startedAt))
            ::unlinkat(fd, entry->d_name, 0);
    }
    ::closedir(dir);
}
