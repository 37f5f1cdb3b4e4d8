#include "platform/DesktopServices.h"

#include <QDesktopServices>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

static DesktopRecorder& recorder() {
    static DesktopRecorder instance;
    return instance;
}

void SetDesktopRecorder(DesktopRecorder r) { recorder() = std::move(r); }

static bool record(const QString& action, const QByteArray& argument) {
    if (!recorder())
        return false;
    recorder()(action, argument);
    return true;
}

static QUrl fileUrl(const QByteArray& path) {
    // Percent-encode the raw bytes so that names that are not valid UTF-8
    // reach the file manager unchanged.
    return QUrl::fromEncoded("file://" + path.toPercentEncoding("/"));
}

// The first of the programs that is installed, started with its arguments.
static bool startFirst(const QStringList& programs, const QStringList& arguments) {
    for (const QString& program : programs) {
        const QString found = QStandardPaths::findExecutable(program);
        if (!found.isEmpty() && QProcess::startDetached(found, arguments))
            return true;
    }
    return false;
}

// A command line (program first), started without a shell.
static bool startCommand(const QStringList& command) {
    return !command.isEmpty() && startFirst({command.first()}, command.mid(1));
}

// Runs a command in the desktop's terminal emulator, for editors that need
// one. Each terminal is given the command as separate arguments, after the
// option with which that terminal takes them so.
static bool startInTerminal(const QStringList& command) {
    const std::pair<QString, QStringList> terminals[] = {
        {QStringLiteral("x-terminal-emulator"), {QStringLiteral("-e")}},
        {QStringLiteral("gnome-terminal"), {QStringLiteral("--")}},
        {QStringLiteral("konsole"), {QStringLiteral("-e")}},
        {QStringLiteral("xfce4-terminal"), {QStringLiteral("-x")}},
        {QStringLiteral("mate-terminal"), {QStringLiteral("-x")}},
        {QStringLiteral("alacritty"), {QStringLiteral("-e")}},
        {QStringLiteral("kitty"), {}},
        {QStringLiteral("foot"), {}},
        {QStringLiteral("xterm"), {QStringLiteral("-e")}},
    };
    if (command.isEmpty() || QStandardPaths::findExecutable(command.first()).isEmpty())
        return false;
    for (const auto& [terminal, option] : terminals)
        if (startFirst({terminal}, option + command))
            return true;
    return false;
}

// The folders that hold desktop entries, the user's first.
static QStringList applicationFolders() {
    return QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
}

// The value of `key` in `section` of an ini-like file of the desktop
// (mimeapps.list, mimeinfo.cache, a desktop entry), as written.
static QString desktopFileValue(const QString& file, const QString& section, const QString& key) {
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    bool inSection = false;
    while (!in.atEnd()) {
        const QString line = QString::fromUtf8(in.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inSection = line == QLatin1Char('[') + section + QLatin1Char(']');
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (inSection && equals > 0 && line.left(equals).trimmed() == key)
            return line.mid(equals + 1).trimmed();
    }
    return {};
}

// The path of an installed desktop entry by its id, or empty.
static QString desktopEntryPath(const QString& id) {
    for (const QString& folder : applicationFolders()) {
        const QString path = folder + QLatin1Char('/') + id;
        if (QFile::exists(path))
            return path;
    }
    return {};
}

// The installed desktop entry that the desktop opens files of `mimeType`
// with: the defaults of the mimeapps.list files (the user's first), then the
// added associations, then the system's cache of what each program takes.
static QString defaultApplication(const QString& mimeType) {
    QStringList lists;
    QStringList desktops;
    for (const QString& name :
         qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'), Qt::SkipEmptyParts))
        desktops << name.toLower() + QStringLiteral("-mimeapps.list");
    desktops << QStringLiteral("mimeapps.list");
    const QStringList folders =
        QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation) +
        applicationFolders();
    for (const QString& folder : folders)
        for (const QString& name : desktops)
            lists << folder + QLatin1Char('/') + name;
    const std::pair<QStringList, QString> sources[] = {
        {lists, QStringLiteral("Default Applications")},
        {lists, QStringLiteral("Added Associations")},
        {[] {
             QStringList caches;
             for (const QString& folder : applicationFolders())
                 caches << folder + QStringLiteral("/mimeinfo.cache");
             return caches;
         }(),
         QStringLiteral("MIME Cache")},
    };
    for (const auto& [files, section] : sources)
        for (const QString& file : files)
            for (const QString& id : desktopFileValue(file, section, mimeType)
                                         .split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
                const QString path = desktopEntryPath(id.trimmed());
                if (!path.isEmpty() &&
                    desktopFileValue(path, QStringLiteral("Desktop Entry"),
                                     QStringLiteral("Hidden")) != QLatin1String("true"))
                    return path;
            }
    return {};
}

// The arguments of a desktop entry's Exec value, with its field codes
// replaced: the file codes by `file` (as a path or a URL), the rest dropped.
// A command whose codes take no file is given the file at its end.
static QStringList execArguments(const QString& exec, const QByteArray& file) {
    // The value's own escapes come first, then the quoting of arguments.
    QString value;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar next = i + 1 < exec.size() ? exec[i + 1] : QChar();
        if (exec[i] != u'\\' || !QStringLiteral("sntr\\").contains(next)) {
            value += exec[i];
            continue;
        }
        value += next == u's'   ? QChar(u' ')
                 : next == u'n' ? QChar(u'\n')
                 : next == u't' ? QChar(u'\t')
                 : next == u'r' ? QChar(u'\r')
                                : next;
        ++i;
    }
    QStringList arguments;
    QString current;
    bool quoted = false, started = false, fileGiven = false;
    const QString path = QFile::decodeName(file);
    const QString url = QString::fromLatin1(fileUrl(file).toEncoded());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (quoted) {
            if (c == u'"')
                quoted = false;
            else if (c == u'\\' && i + 1 < value.size())
                current += value[++i];
            else
                current += c;
        } else if (c == u'"') {
            quoted = started = true;
        } else if (c == u' ') {
            if (started)
                arguments << current;
            current.clear();
            started = false;
        } else if (c == u'%' && i + 1 < value.size()) {
            const QChar code = value[++i];
            if (code == u'%') {
                current += code;
                started = true;
            } else if (QStringLiteral("fFuU").contains(code)) {
                fileGiven = true;
                if (!file.isEmpty()) {
                    current += code.toLower() == u'u' ? url : path;
                    started = true;
                }
            }
        } else {
            current += c;
            started = true;
        }
    }
    if (started)
        arguments << current;
    if (!fileGiven && !file.isEmpty())
        arguments << path;
    return arguments;
}

// The desktop's default program for plain text, on the file or with none.
static bool startDefaultTextApplication(const QByteArray& file) {
    const QString entry = defaultApplication(QStringLiteral("text/plain"));
    if (entry.isEmpty())
        return false;
    const QString section = QStringLiteral("Desktop Entry");
    const QStringList command =
        execArguments(desktopFileValue(entry, section, QStringLiteral("Exec")), file);
    if (desktopFileValue(entry, section, QStringLiteral("Terminal")) == QLatin1String("true"))
        return startInTerminal(command);
    return startCommand(command);
}

// A text editor on the file, or an empty one when `file` is empty: the
// common desktops' editors, the desktop's default for plain text, then the
// user's own $VISUAL or $EDITOR in a terminal.
static bool startEditor(const QByteArray& file) {
    const QStringList fileArgument =
        file.isEmpty() ? QStringList() : QStringList{QFile::decodeName(file)};
    if (startFirst({QStringLiteral("gnome-text-editor"), QStringLiteral("gedit"),
                    QStringLiteral("kate"), QStringLiteral("mousepad"), QStringLiteral("pluma"),
                    QStringLiteral("xed"), QStringLiteral("leafpad")},
                   fileArgument))
        return true;
    if (startDefaultTextApplication(file))
        return true;
    for (const char* variable : {"VISUAL", "EDITOR"}) {
        const QStringList editor = QProcess::splitCommand(qEnvironmentVariable(variable));
        if (startInTerminal(editor + fileArgument))
            return true;
    }
    return false;
}

bool OpenFolderInFileManager(const QByteArray& folder) {
    if (record(QStringLiteral("open-folder"), folder))
        return true;
    return QDesktopServices::openUrl(fileUrl(folder));
}

bool OpenFileInTextEditor(const QByteArray& file) {
    if (record(QStringLiteral("edit-file"), file))
        return true;
    // A lyric file is text whatever the desktop thinks of its name, so a
    // text editor is asked for, not the desktop's handler for the name.
    return startEditor(file);
}

bool StartTextEditor() {
    if (record(QStringLiteral("start-editor"), QByteArray()))
        return true;
    return startEditor(QByteArray());
}

bool StartVolumeControl() {
    if (record(QStringLiteral("volume-control"), QByteArray()))
        return true;
    // The mixers of the common desktops, the plain sound server mixer first;
    // the desktop settings programs need to be told to open their sound page.
    const std::pair<QString, QStringList> mixers[] = {
        {QStringLiteral("pavucontrol"), {}},
        {QStringLiteral("pavucontrol-qt"), {}},
        {QStringLiteral("mate-volume-control"), {}},
        {QStringLiteral("gnome-control-center"), {QStringLiteral("sound")}},
        {QStringLiteral("kcmshell6"), {QStringLiteral("kcm_pulseaudio")}},
        {QStringLiteral("kcmshell5"), {QStringLiteral("kcm_pulseaudio")}},
        {QStringLiteral("kmix"), {}},
    };
    for (const auto& [program, arguments] : mixers) {
        if (startFirst({program}, arguments))
            return true;
    }
    return false;
}
