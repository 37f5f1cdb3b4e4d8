#include "desktop/CommandLine.h"

#include "platform/PathNames.h"

QByteArray UsageText() {
    return "Usage: tolvane [OPTION]... [FILE|FOLDER|URL]...\n";
}

QByteArray HelpText() {
    return UsageText() +
           "Adds the media files, the media files of the folders, and the entries of\n"
           "the .plf playlists named to the playlist, then plays the first of them.\n"
           "When Tolvane already runs, they are handed to it and this copy ends.\n"
           "\n"
           "  -h, --help     show this help and exit\n"
           "  -V, --version  show the version and exit\n";
}

QByteArray VersionText() {
    return "tolvane 1.0\n";
}

QByteArray LocalPathOfUrl(const QByteArray& url) {
    if (!url.left(5).toLower().startsWith("file:"))
        return {};
    QByteArray rest = url.mid(5);
    // An escaped "#" or "?" belongs to the name; a bare one starts the
    // fragment or the query, which name no part of a file.
    const qsizetype end = rest.indexOf('#'), query = rest.indexOf('?');
    if (query >= 0 && (end < 0 || query < end))
        rest.truncate(query);
    else if (end >= 0)
        rest.truncate(end);
    if (rest.startsWith("//")) {
        // file://host/path: only this machine's files are ours to play.
        const qsizetype slash = rest.indexOf('/', 2);
        const QByteArray host = rest.mid(2, slash < 0 ? -1 : slash - 2);
        if (!host.isEmpty() && host.toLower() != "localhost")
            return {};
        rest = slash < 0 ? QByteArray() : rest.mid(slash);
    }
    if (!rest.startsWith('/'))
        return {};
    return QByteArray::fromPercentEncoding(rest);
}

QByteArray FileUrlOfPath(const QByteArray& path) {
    return "file://" + path.toPercentEncoding("/");
}

CommandLine ParseCommandLine(const QByteArrayList& arguments, const QByteArray& currentFolder) {
    CommandLine result;
    bool options = true;
    for (const QByteArray& argument : arguments) {
        if (options && argument == "--") {
            options = false;
            continue;
        }
        if (options && argument.startsWith('-') && argument != "-") {
            if (argument == "-h" || argument == "--help") {
                result.action = CommandLine::Action::Help;
                return result;
            }
            if (argument == "-V" || argument == "--version") {
                result.action = CommandLine::Action::Version;
                return result;
            }
            result.action = CommandLine::Action::Usage;
            result.badOption = argument;
            return result;
        }
        if (argument.isEmpty())
            continue;
        if (const QByteArray local = LocalPathOfUrl(argument); !local.isEmpty())
            result.paths.append(AbsolutePath(local, "/"));
        else if (!argument.contains("://"))
            result.paths.append(AbsolutePath(argument, currentFolder));
        // Any other URL names nothing this player can reach.
    }
    return result;
}
