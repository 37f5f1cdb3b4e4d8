// The window a video is drawn into: the program's own, titled with the file's
// name, with the program's icon, as large as the video and fitted to the
// screen; it comes and goes with the file. Looked at as the X server sees it.

#include "TestProgram.h"
#include "TestSupport.h"
#include "XWindows.h"

#include "player/media/MediaPlayer.h"
#include "windows/VideoWindow.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <QWindow>
#include <memory>

namespace {

using TestSupport::Media;

constexpr int PatienceMs = 8000;

using XScreen = TestSupport::XWindows;

void open(TMediaPlayer& player, const QByteArray& path) {
    player.FileName = path;
    try {
        player.OpenMedia();
    } catch (const EMCIDeviceError& error) {
        QFAIL(error.what());
    }
}

// Plays a video a moment and closes it, which leaves its window made and
// named to the player.
bool playedAMoment(TMediaPlayer& player) {
    open(player, Media(QStringLiteral("clip.avi")));
    player.PlayMedia();
    const bool played =
        QTest::qWaitFor([&] { return player.MediaPosition() >= 200; }, PatienceMs);
    player.CloseMedia();
    return played;
}

void run(const QString& program, const QStringList& arguments, const QProcessEnvironment& env) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    process.waitForFinished(10000);
}

// Drawn into: most of the window's pixels are not black; with a part given,
// most of that part's (in the window's own coordinates).
bool lit(QWindow* window, QRect part = {}) {
    const QImage image = window->screen()->grabWindow(window->winId()).toImage();
    part = part.isNull() ? image.rect() : part.intersected(image.rect());
    qsizetype dark = 0;
    for (int y = part.top(); y <= part.bottom(); ++y)
        for (int x = part.left(); x <= part.right(); ++x)
            dark += (image.pixel(x, y) & 0xffffff) == 0;
    return !image.isNull() && !part.isEmpty() && dark < part.width() * part.height() / 2;
}

// The threads of this process's playing child (the one child that plays
// here): each pipeline holds some while it plays or stops.
int childThreads() {
    const QList<TestSupport::ChildProcess> children = TestSupport::ChildrenNamed("tolvane-tester");
    return children.isEmpty() ? 0
                              : int(QDir(QStringLiteral("/proc/%1/task").arg(children[0].pid))
                                        .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                                        .size());
}

bool tools(std::initializer_list<const char*> names) {
    for (const char* name : names)
        if (QStandardPaths::findExecutable(QString::fromLatin1(name)).isEmpty())
            return false;
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

} // namespace

class VideoWindowTest : public QObject {
    Q_OBJECT
private slots:
    // The device draws into the window it is given and makes none of its
    // own; the window goes when the file is closed or the player destroyed.
    void theWindowShowsThePicturesAndGoesWithTheFile() {
        if (!tools({}))
            QSKIP("needs the X display of tools/with-test-env");
        const XScreen x;
        TMediaPlayer player;
        TVideoWindow video(&player, nullptr);
        open(player, Media(QStringLiteral("tone.wav")));
        player.PlayMedia();
        QTRY_VERIFY_WITH_TIMEOUT(player.MediaPosition() >= 200, PatienceMs);
        QVERIFY(video.window() && !video.window()->isVisible()); // sound alone shows nothing

        open(player, Media(QStringLiteral("clip.avi")));
        player.SeekMedia(1000);
        player.PlayMedia(); // the window comes with the first play, at the sought place
        QVERIFY(player.MediaPosition() >= 750);
        QVERIFY(video.window() && video.window()->isVisible());
        QCOMPARE(video.window()->title(), QStringLiteral("clip.avi"));
        QTRY_VERIFY_WITH_TIMEOUT(lit(video.window()), PatienceMs);
        QCOMPARE(x.strangers(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(player.MediaPosition() >= 1300, PatienceMs);
        player.CloseMedia();
        QVERIFY(!video.window()->isVisible());

        auto doomed = std::make_unique<TMediaPlayer>();
        TVideoWindow doomedVideo(doomed.get(), nullptr);
        open(*doomed, Media(QStringLiteral("clip.mpg")));
        doomed->PlayMedia();
        QVERIFY(doomedVideo.window() && doomedVideo.window()->isVisible());
        doomed.reset();
        QVERIFY(!doomedVideo.window()->isVisible());
    }

    // Each video, MIDI file and sound after another: every video draws into
    // the window, and the pipelines of the files before stop on their own
    // (they are let go as the next file opens) rather than pile up in the
    // child that plays.
    void videosOneAfterAnotherEachDrawAndLeaveNoPipelineBehind() {
        if (!tools({}))
            QSKIP("needs the X display of tools/with-test-env");
        TMediaPlayer player;
        TVideoWindow video(&player, nullptr);
        int firstRound = 0;
        for (int round = 0; round < 4; ++round) {
            for (const char* name : {"clip.avi", "tune.mid", "clip.mpg", "tone.wav"}) {
                open(player, Media(QString::fromLatin1(name)));
                player.PlayMedia();
                QTRY_VERIFY_WITH_TIMEOUT(player.MediaPosition() >= 300, PatienceMs);
                if (QByteArray(name).startsWith("clip"))
                    QTRY_VERIFY2_WITH_TIMEOUT(video.window() && video.window()->isVisible() &&
                                                  lit(video.window()),
                                              name, PatienceMs);
            }
            QTest::qWait(300);
            if (round == 0)
                firstRound = childThreads();
        }
        QVERIFY(firstRound > 0);
        QVERIFY2(childThreads() <= firstRound + 2,
                 qPrintable(QStringLiteral("%1 threads, %2 after the first round")
                                .arg(childThreads())
                                .arg(firstRound)));
    }

    // Once the window is known, a video draws its first picture there as it
    // opens, before it plays, and in the size the window asks for.
    void aVideoOpensIntoTheWindowItWillPlayIn() {
        if (!tools({}))
            QSKIP("needs the X display of tools/with-test-env");
        TMediaPlayer player;
        TVideoWindow video(&player, nullptr);
        QVERIFY(playedAMoment(player));

        // Larger than it was: what it showed lights a quarter of it.
        QWindow* window = video.window();
        QVERIFY(window && !window->isVisible());
        window->resize(320, 240);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QVERIFY(!lit(window));
        open(player, Media(QStringLiteral("clip.avi")));
        QTRY_VERIFY_WITH_TIMEOUT(lit(window), PatienceMs);
        // Larger again, as the window is made for the file: the picture at
        // the former size would light less than half of it.
        window->resize(480, 360);
        QGuiApplication::sync();
        player.SetVideoWindow(window->winId(), QSize(480, 360) * window->devicePixelRatio());
        QTRY_VERIFY_WITH_TIMEOUT(lit(window), PatienceMs);
        QCOMPARE(player.MediaMode(), TMPModes::mpStopped);
        QCOMPARE(player.MediaPosition(), 0);

        // Wiped, as by a window that lay over it: the X server tells the
        // window it is exposed, and the picture comes back.
        const XScreen x;
        const auto id = xcb_window_t(window->winId());
        const uint32_t black = 0;
        xcb_change_window_attributes(x.c, id, XCB_CW_BACK_PIXEL, &black);
        xcb_clear_area(x.c, 1, id, 0, 0, 0, 0);
        xcb_flush(x.c);
        QTRY_VERIFY_WITH_TIMEOUT(lit(window), PatienceMs);
    }

    // A window the user resizes (through the window manager, which sets its
    // size on the X server) shows the picture at its new size and shape.
    void thePictureFollowsTheWindowTheUserResizes() {
        if (!tools({}))
            QSKIP("needs the X display of tools/with-test-env");
        const XScreen x;
        TMediaPlayer player;
        TVideoWindow video(&player, nullptr);
        open(player, Media(QStringLiteral("long.avi")));
        player.PlayMedia();
        QWindow* window = video.window();
        QTRY_VERIFY_WITH_TIMEOUT(lit(window), PatienceMs);
        // Four times as wide and twice as high: at its former size the
        // picture would light an eighth; at its own shape, the middle half
        // between black bars.
        const QSize wide(window->width() * 4, window->height() * 2);
        const uint32_t values[] = {uint32_t(wide.width()), uint32_t(wide.height())};
        xcb_configure_window(x.c, xcb_window_t(window->winId()),
                             XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, values);
        xcb_flush(x.c);
        QTRY_VERIFY_WITH_TIMEOUT(
            lit(window, QRect(wide.width() / 4 + 4, 0, wide.width() / 2 - 8, wide.height())),
            PatienceMs);
        QVERIFY(!lit(window, QRect(0, 0, wide.width() / 4 - 4, wide.height())));
    }

    // The window is made as the first file opens, whatever it holds: the
    // first video too draws its picture there as it opens, and plays on
    // there.
    void theFirstVideoOpensIntoTheWindowToo() {
        if (!tools({}))
            QSKIP("needs the X display of tools/with-test-env");
        TMediaPlayer player;
        TVideoWindow video(&player, nullptr);
        open(player, Media(QStringLiteral("clip.mpg")));
        QWindow* window = video.window();
        QVERIFY(window && !window->isVisible());
        window->resize(160, 120); // the clip's own size
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QTRY_VERIFY_WITH_TIMEOUT(lit(window), PatienceMs);
        QCOMPARE(player.MediaMode(), TMPModes::mpStopped);

        player.PlayMedia();
        QTRY_VERIFY_WITH_TIMEOUT(player.MediaPosition() >= 300, PatienceMs);
        QVERIFY(window->isVisible());
        QVERIFY(lit(window));
    }

    // A window that is gone is no longer named to the player: the next video
    // plays unseen instead of drawing into nothing.
    void aVideoAfterItsWindowWentStillPlays() {
        if (!tools({}))
            QSKIP("needs the X display of tools/with-test-env");
        TMediaPlayer player;
        {
            TVideoWindow video(&player, nullptr);
            QVERIFY(playedAMoment(player));
        }
        for (const char* name : {"clip.mpg", "clip.avi"}) {
            open(player, Media(QString::fromLatin1(name)));
            player.PlayMedia();
            QTRY_VERIFY2_WITH_TIMEOUT(player.MediaPosition() >= 500, name, PatienceMs);
            QCOMPARE(player.MediaMode(), TMPModes::mpPlaying);
        }
    }

    // Off an X display nothing can draw into a window of ours: the player
    // says so and plays the sound. Run again on Qt's offscreen platform.
    void offAnXDisplayAVideoSaysSo() {
        if (QGuiApplication::platformName() == QLatin1String("xcb")) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
            QProcess offscreen;
            offscreen.setProcessEnvironment(env);
            offscreen.setProcessChannelMode(QProcess::ForwardedChannels);
            offscreen.start(QCoreApplication::applicationFilePath(),
                            {QString::fromLatin1(QTest::currentTestFunction())});
            QVERIFY(offscreen.waitForFinished(60000));
            QCOMPARE(offscreen.exitCode(), 0);
            return;
        }
        TestSupport::MessageRecorder boxes;
        TMediaPlayer player;
        TVideoWindow video(&player, nullptr);
        open(player, Media(QStringLiteral("clip.avi")));
        player.PlayMedia();
        QTRY_COMPARE_WITH_TIMEOUT(boxes.messages.size(), 1, PatienceMs);
        QVERIFY(boxes.messages[0].contains(QStringLiteral("X display")));
        QVERIFY(!video.window());
        QTRY_VERIFY_WITH_TIMEOUT(player.MediaPosition() >= 800, PatienceMs);
    }

    // The real program on a 640 x 480 screen of its own, driven by keys.
    void theProgramShowsEachVideoInItsOwnWindow() {
        if (!tools({"Xvfb", "xdotool"}))
            QSKIP("needs Xvfb and xdotool");
        const TestSupport::PrivateDisplay display(QStringLiteral("640x480x24"));
        QVERIFY(!display.name.isEmpty());
        TestSupport::StateFolder state;
        QProcessEnvironment env = state.environment();
        env.insert(QStringLiteral("DISPLAY"), display.name);
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        QProcess player;
        TestSupport::StartProgram(player, env,
                                  {QFile::decodeName(Media(QStringLiteral("long.avi"))),
                                   QFile::decodeName(Media(QStringLiteral("tone.wav"))),
                                   QFile::decodeName(Media(QStringLiteral("wide.avi")))});
        const XScreen x(display.name.toLatin1());
        QVERIFY(x.connected());
        const QRect screen = x.geometry(x.root);

        xcb_window_t video = 0;
        QTRY_VERIFY_WITH_TIMEOUT((video = x.find("long.avi")), 20000);
        QCOMPARE(x.geometry(video).size(), QSize(320, 240));
        QVERIFY(screen.contains(x.geometry(video)));
        QVERIFY(x.property(video, "_NET_WM_ICON").size() > 16 * 16 * 4);

        // The next track, sound alone: the window goes.
        const xcb_window_t main = x.find("Tolvane");
        QVERIFY(main);
        // One connection that stays a moment after the key: a busy X server
        // may drop what a client sent just before it hung up.
        const QStringList next{QStringLiteral("windowfocus"), QStringLiteral("--sync"),
                               QString::number(main),         QStringLiteral("key"),
                               QStringLiteral("b"),           QStringLiteral("sleep"),
                               QStringLiteral("0.3")};
        run(QStringLiteral("xdotool"), next, env);
        QTRY_VERIFY_WITH_TIMEOUT(!x.viewable(video), 20000);

        // A video larger than the screen comes fitted, whole on the screen.
        run(QStringLiteral("xdotool"), next, env);
        xcb_window_t wide = 0;
        QTRY_VERIFY_WITH_TIMEOUT((wide = x.find("wide.avi")), 20000);
        QCOMPARE(x.geometry(wide).size(), QSize(640, 320));
        QVERIFY(screen.contains(x.geometry(wide)));

        player.terminate();
        QVERIFY(player.waitForFinished(15000));
    }
};

QTEST_MAIN(VideoWindowTest)

#include "tst_videowindow.moc"
