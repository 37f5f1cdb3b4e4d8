#pragma once

#include <QByteArray>
#include <QByteArrayList>

// What the program was asked to do on its command line:
//   tolvane [FILE|FOLDER|file:// URL]...
// Arguments are bytes from start to end: a file name that is not valid UTF-8
// reaches the playlist exactly as the file system spells it.
struct CommandLine {
    enum class Action { Run, Help, Version, Usage };
    Action action = Action::Run;
    // The named files and folders as absolute paths, in command-line order.
    QByteArrayList paths;
    // For Usage: the argument that was not understood.
    QByteArray badOption;
};

// Reads the arguments after the program name. Relative paths are taken
// against `currentFolder`, so that a running copy with another current
// folder finds them. "--" ends the options.
CommandLine ParseCommandLine(const QByteArrayList& arguments, const QByteArray& currentFolder);

// The path a file:// URL names, its %XX escapes decoded to bytes; empty when
// the argument is no local file URL.
QByteArray LocalPathOfUrl(const QByteArray& url);

// A file:// URL of a path, every byte outside the unreserved set escaped.
QByteArray FileUrlOfPath(const QByteArray& path);

QByteArray UsageText();
QByteArray HelpText();
QByteArray VersionText();
