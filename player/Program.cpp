// The program entry's work: the command line, the one running copy, the
// windows, the desktop's media controls and the event loop.

#include "player/Program.h"

#include "desktop/CommandLine.h"
#include "desktop/Mpris.h"
#include "desktop/SingleInstance.h"
#include "platform/Memory.h"
#include "platform/StatePaths.h"
#include "platform/Termination.h"
#include "player/PlayerControl.h"
#include "player/Unit1.h"
#include "player/media/MediaPlayer.h"
#include "playlist/ListBox.h"
#include "playlist/Unit2.h"
#include "windows/Controls.h"
#include "windows/MessageBox.h"

#include <QApplication>
#include <QEvent>
#include <QIcon>
#include <QTimer>
#include <QWidget>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <unistd.h>

static QByteArray currentFolder() {
    QByteArray folder(4096, '\0');
    while (!::getcwd(folder.data(), size_t(folder.size()))) {
        if (errno != ERANGE)
            return "/";
        folder.resize(folder.size() * 2);
    }
    return folder.left(qsizetype(qstrlen(folder.constData())));
}

static bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

// A chosen Qt platform (offscreen, say) needs no display of the session's.
static bool hasGraphicalSession() {
    return isSet("DISPLAY") || isSet("WAYLAND_DISPLAY") || isSet("QT_QPA_PLATFORM");
}

// The Qt platform the player asks for, or none for Qt's own choice. The
// windows' places are part of the design, and a Wayland client cannot choose
// where its windows go: in a Wayland session with an X server at hand
// (XWayland) the player is an X client. Without one it runs natively. The
// platform is given on Qt's command line and not in the environment, which
// the programs the player starts (a file manager, an editor) inherit. A
// platform the user chose holds.
static const char* chosenPlatform() {
    if (isSet("QT_QPA_PLATFORM"))
        return nullptr;
    const char* session = std::getenv("XDG_SESSION_TYPE");
    if (!isSet("WAYLAND_DISPLAY") && !(session && std::strcmp(session, "wayland") == 0))
        return nullptr;
    return isSet("DISPLAY") ? "xcb" : "wayland";
}

// Where the compositor places the windows (natively on Wayland), the window
// mapped last lands on top.
static bool compositorPlacesWindows() {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

namespace {

// Lives as the widget's child, so that it goes with it.
class FirstPaintWatch : public QObject {
public:
    FirstPaintWatch(QWidget* widget, std::function<void()> work, int latestMs)
        : QObject(widget), work_(std::move(work)) {
        widget->installEventFilter(this);
        QTimer::singleShot(latestMs, this, &FirstPaintWatch::Run);
    }

    bool eventFilter(QObject*, QEvent* event) override {
        // The paint itself must end first: the work is queued behind it, and
        // behind whatever else the same pass of the event loop paints.
        if (event->type() == QEvent::Paint && !queued_) {
            queued_ = true;
            QTimer::singleShot(0, this, &FirstPaintWatch::Run);
        }
        return false;
    }

private:
    void Run() {
        if (!work_)
            return;
        parent()->removeEventFilter(this);
        const std::function<void()> work = std::move(work_);
        work_ = nullptr;
        deleteLater();
        work();
    }

    std::function<void()> work_;
    bool queued_ = false;
};

} // namespace

void AfterFirstPaint(QWidget* widget, std::function<void()> work, int latestMs) {
    new FirstPaintWatch(widget, std::move(work), latestMs);
}

int RunPlayer(int argc, char* argv[], const std::function<void(QApplication&)>& started) {
    // Read before Qt sees the arguments, so that --help and --version need
    // no display, and as bytes, so that any file name comes through.
    QByteArrayList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QByteArray(argv[i]));
    const CommandLine command = ParseCommandLine(arguments, currentFolder());
    // The child the program's start made for the first file, if it did: only
    // a player with files has a use for it.
    TMediaPlayer::TakeStartedChild(command.action == CommandLine::Action::Run &&
                                   !command.paths.isEmpty());
    switch (command.action) {
    case CommandLine::Action::Help:
        std::fputs(HelpText().constData(), stdout);
        return 0;
    case CommandLine::Action::Version:
        std::fputs(VersionText().constData(), stdout);
        return 0;
    case CommandLine::Action::Usage:
        std::fprintf(stderr, "tolvane: unknown option '%s'\n%s", command.badOption.constData(),
                     UsageText().constData());
        return 2;
    case CommandLine::Action::Run:
        break;
    }

    // Without a display Qt would end the program with an abort and a core
    // file; a user who started it from a text console learns why instead.
    if (!hasGraphicalSession()) {
        std::fputs("tolvane: needs a graphical session (neither DISPLAY nor WAYLAND_DISPLAY "
                   "is set)\n",
                   stderr);
        return 1;
    }

    LimitMallocArenas();
    // The first file's child loads GStreamer (and the decoders the file's
    // kind needs) while Qt starts and the windows are built; the program's
    // start has made it already, unless the player was started otherwise. A
    // copy that hands its files over to another lets it go as it ends.
    if (!command.paths.isEmpty())
        TMediaPlayer::PrepareToPlay(command.paths.first());
    char platformOption[] = "-platform";
    char* qtArgv[] = {argv[0], platformOption, const_cast<char*>(chosenPlatform()), nullptr};
    int qtArgc = qtArgv[2] ? 3 : 1;
    QApplication application(qtArgc, qtArgv);
    if (started)
        started(application);
    QApplication::setApplicationName(QStringLiteral("tolvane"));
    QApplication::setDesktopFileName(QStringLiteral("tolvane"));
    // The program's windows share the player's icon. The title a task bar
    // shows is the main window's icon text, which the marquee keeps.
    QApplication::setWindowIcon(QIcon(DesignPicture(QStringLiteral(":/icon.png"))));
    QApplication::setQuitOnLastWindowClosed(false);
    QuitOnTerminationSignals();

    // A copy that finds another running with the same automatic playlist
    // hands its files over and ends before it reads the playlist.
    SingleInstance instance(StateFolder());
    switch (instance.Start(command.paths)) {
    case SingleInstance::Outcome::HandedOver:
        return 0;
    case SingleInstance::Outcome::Refused:
        // A copy that is stopped or stuck still owns the playlist; a second
        // writer would lose one of the two lists at the end.
        ShowMessage(QStringLiteral("Tolvane is already running with this playlist but does not "
                                   "answer. This copy ends without changing the playlist."));
        return 1;
    case SingleInstance::Outcome::Running:
    case SingleInstance::Outcome::Alone:
        break;
    }

    TForm1 form1;
    // The playlist window shows itself as it is built. Where the compositor
    // places the windows, the main window comes after it has been drawn, so
    // that it is not hidden under the playlist window.
    const bool mainWindowLast = compositorPlacesWindows();
    if (!mainWindowLast)
        form1.show();
    TForm2 form2(&form1);
    if (mainWindowLast)
        AfterFirstPaint(&form2, [&form1] { form1.show(); });
    // A playlist to play: the child is ready by the time Play is pressed.
    if (form2.EntryCount() > 0)
        TMediaPlayer::PrepareToPlay();

    PlayerControl control(form1);
    QObject::connect(&instance, &SingleInstance::openRequested, &control,
                     [&control](const QByteArrayList& paths) {
                         control.OpenPaths(paths);
                         control.Raise();
                     });
    // The desktop's media controls are registered once the playlist is on
    // the screen: the bus round trips need not hold up the first frame.
    Mpris mpris(control);
    AfterFirstPaint(form2.ListB->viewport(), [&mpris] { mpris.Start(); });
    control.OpenPaths(command.paths);

    const int result = application.exec();
    form2.SaveAutomaticPlaylist();
    return result;
}
