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

bool OpenFolderInFileManager(const QByteArray& folder) {
    if (record(QStringLiteral("open-folder"), folder))
        return true;
    return QDesktopServices::openUrl(fileUrl(folder));
}

bool OpenFileInTextEditor(const QByteArray& file) {
    if (record(QStringLiteral("edit-file"), file))
        return true;
    // A lyric file is text whatever the desktop thinks of its name, so ask
    // for a text editor before the desktop's handler for the file.
    const QString path = QFile::decodeName(file);
    if (startFirst({QStringLiteral("gnome-text-editor"), QStringLiteral("gedit"),
                    QStringLiteral("kate"), QStringLiteral("mousepad"), QStringLiteral("pluma"),
                    QStringLiteral("xed"), QStringLiteral("leafpad")},
                   {path}))
        return true;
    return QDesktopServices::openUrl(fileUrl(file));
}

bool StartTextEditor() {
    if (record(QStringLiteral("start-editor"), QByteArray()))
        return true;
    return startFirst({QStringLiteral("gnome-text-editor"), QStringLiteral("gedit"),
                       QStringLiteral("kate"), QStringLiteral("mousepad"), QStringLiteral("pluma"),
                       QStringLiteral("xed"), QStringLiteral("leafpad")},
                      {});
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
