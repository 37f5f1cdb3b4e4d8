#include "platform/StatePaths.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

static QByteArray homeFolder() {
    const QByteArray home = qgetenv("HOME");
    if (!home.isEmpty())
        return home;
    if (const passwd* user = ::getpwuid(::getuid()); user && user->pw_dir)
        return user->pw_dir;
    return "/";
}

QByteArray StateFolder() {
    QByteArray base = qgetenv("XDG_STATE_HOME");
    // The base directory rules ignore a relative XDG_STATE_HOME.
    if (!base.startsWith('/'))
        base = homeFolder() + "/.local/state";
    return base + "/tolvane";
}

QByteArray AutomaticPlaylistPath() {
    return StateFolder() + "/PlayList.plf";
}

int MakePrivateFolder(const QByteArray& folder) {
    struct stat st {};
    if (folder.isEmpty() || ::stat(folder.constData(), &st) == 0)
        return 0;
    const qsizetype slash = folder.lastIndexOf('/');
    if (slash > 0)
        if (const int error = MakePrivateFolder(folder.left(slash)))
            return error;
    if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST)
        return errno;
    return 0;
}
