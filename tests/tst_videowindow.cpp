// The window a video is drawn into: the program's own, titled with the file's
// name, with the program's icon, as large as the video and fitted to the
// screen; it comes and goes with the file. Looked at as the X server sees it.

#include "TestProgram.h"
#include "TestSupport.h"
#include "XWindows.h"

#include "player/media/MediaPlayer.h"
#include "windows/VideoWindow.h"

#include <QApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QWindow>
#include <cstdlib>
#include <memory>

#include <xcb/xcb.h>

namespace {

using TestSupport::Media;

constexpr int PatienceMs = 8000;

// The windows of an X display, as a window manager would read them.
class XScreen {
public:
    explicit XScreen(const QString& name = {})
        : c(xcb_connect(name.isEmpty() ? nullptr : name.toLatin1().constData(), nullptr)),
          root(xcb_setup_roots_iterator(xcb_get_setup(c)).data->root) {}
    ~XScreen() { xcb_disconnect(c); }

    QByteArray property(xcb_window_t window, const char* name) const {
        return TestSupport::Property(c, window, name);
    }
    qint64 pid(xcb_window_t window) const {
        const QByteArray value = property(window, "_NET_WM_PID");
        return value.size() == 4 ? *reinterpret_cast<const quint32*>(value.constData()) : -1;
    }
    bool viewable(xcb_window_t window) const {
        auto* reply =
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr);
        const bool shown = reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(reply);
        return shown;
    }
    QRect geometry(xcb_window_t window) const {
        auto* reply = xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr);
        const QRect place =
            reply ? QRect(reply->x, reply->y, reply->width, reply->height) : QRect();
        std::free(reply);
        return place;
    }
    QRect screen() const { return geometry(root); }
    // The top-level windows shown now.
    QList<xcb_window_t> shown() const {
        QList<xcb_window_t> windows;
        auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
        for (int i = 0; tree && i < xcb_query_tree_children_length(tree); ++i)
            if (viewable(xcb_query_tree_children(tree)[i]))
                windows << xcb_query_tree_children(tree)[i];
        std::free(tree);
        return windows;
    }
    // A shown window of the process with that title; 0 when there is none.
    xcb_window_t find(qint64 owner, const QByteArray& title) const {
        for (xcb_window_t window : shown())
            if (pid(window) == owner && property(window, "_NET_WM_NAME") == title)
                return window;
        return 0;
    }
    // The shown windows that no program of ours made: a video sink's own
    // window has none of the program's marks.
    int strangers(qint64 owner) const {
        int count = 0;
        for (xcb_window_t window : shown())
            count += property(window, "WM_NAME") == "tolvane" ||
                     property(window, "WM_CLASS").contains("GStreamer") ||
                     (owner > 0 && pid(window) != owner);
        return count;
    }
    // The share of the window's pixels that are not black.
    double litShare(xcb_window_t window) const {
        const QRect place = geometry(window);
        auto* image = xcb_get_image_reply(c,
                                          xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0,
                                                        place.width(), place.height(), ~0u),
                                          nullptr);
        if (!image || image->depth != 24 || place.isEmpty()) {
            std::free(image);
            return 0;
        }
        const auto* pixels = reinterpret_cast<const quint32*>(xcb_get_image_data(image));
        const int count = xcb_get_image_data_length(image) / 4;
        int lit = 0;
        for (int i = 0; i < count; ++i)
            lit += (pixels[i] & 0xffffff) != 0;
        std::free(image);
        return count ? double(lit) / count : 0;
    }

    xcb_connection_t* const c;
    const xcb_window_t root;
};

void open(TMediaPlayer& player, const QByteArray& path) {
    player.FileName = path;
    try {
        player.OpenMedia();
    } catch (const EMCIDeviceError& error) {
        QFAIL(error.what());
    }
}

QByteArray run(const QString& program, const QStringList& arguments,
               const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    process.waitForFinished(10000);
    return process.readAllStandardOutput();
}

// The stream of the player's on the sound server, whichever process plays
// it: "no" while it sounds, "yes" while it is held, empty when there is none.
QByteArray corked(qint64 pid) {
    for (const QByteArray& block :
         run(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("sink-inputs")})
             .split('#'))
        if (block.contains("application.process.id = \"" + QByteArray::number(pid) + '"'))
            return QRegularExpression(QStringLiteral("Corked: (\\w+)"))
                .match(QString::fromLatin1(block))
                .captured(1)
                .toLatin1();
    return {};
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
    void theFitKeepsTheShapeAndNeverEnlarges() {
        QCOMPARE(FittedVideoSize({160, 120}, {640, 480}), QSize(160, 120));
        QCOMPARE(FittedVideoSize({2000, 1000}, {640, 480}), QSize(640, 320));
        QCOMPARE(FittedVideoSize({1000, 2000}, {640, 480}), QSize(240, 480));
        QCOMPARE(FittedVideoSize({640, 480}, {640, 480}), QSize(640, 480));
        QCOMPARE(FittedVideoSize({3000, 2}, {300, 300}), QSize(300, 1));
        QCOMPARE(FittedVideoSize({800, 600}, {}), QSize(800, 600));
    }

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
        QVERIFY(!video.window()); // sound alone shows nothing

        open(player, Media(QStringLiteral("clip.avi")));
        player.SeekMedia(1000);
        player.PlayMedia(); // the window comes with the first play, at the sought place
        QVERIFY(player.MediaPosition() >= 750);
        QVERIFY(video.window() && video.window()->isVisible());
        QCOMPARE(video.window()->title(), QStringLiteral("clip.avi"));
        const xcb_window_t shown = xcb_window_t(video.window()->winId());
        QTRY_VERIFY_WITH_TIMEOUT(x.viewable(shown) && x.litShare(shown) > 0.5, PatienceMs);
        QCOMPARE(x.strangers(0), 0);
        QTRY_VERIFY_WITH_TIMEOUT(player.MediaPosition() >= 1300, PatienceMs);
        player.CloseMedia();
        QVERIFY(!video.window()->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!x.viewable(shown), PatienceMs);

        auto doomed = std::make_unique<TMediaPlayer>();
        TVideoWindow doomedVideo(doomed.get(), nullptr);
        open(*doomed, Media(QStringLiteral("clip.mpg")));
        doomed->PlayMedia();
        QVERIFY(doomedVideo.window() && doomedVideo.window()->isVisible());
        doomed.reset();
        QVERIFY(!doomedVideo.window()->isVisible());
    }

    // A player given no window, and one that only tests files (as the bad-file
    // scan does) even when given one, show nothing.
    void withoutAWindowAVideoPlaysUnseen() {
        if (!tools({}))
            QSKIP("needs the X display of tools/with-test-env");
        const XScreen x;
        TMediaPlayer player;
        open(player, Media(QStringLiteral("clip.avi")));
        player.PlayMedia();
        TMediaPlayer tester(nullptr, TMediaPlayer::Output::None);
        TVideoWindow untouched(&tester, nullptr);
        open(tester, Media(QStringLiteral("clip.mpg")));
        tester.PlayMedia();
        QTRY_VERIFY_WITH_TIMEOUT(player.MediaPosition() >= 800 && tester.MediaPosition() >= 800,
                                 PatienceMs);
        QVERIFY(!untouched.window());
        QCOMPARE(x.strangers(0), 0);
    }

    // Native Wayland with no X server: nothing can draw into a window of
    // ours, so the player says so, plays the sound, and the device makes no
    // window on whatever X display it could reach.
    void offAnXDisplayAVideoSaysSoAndPlaysItsSound() {
        if (QGuiApplication::platformName() != QLatin1String("offscreen")) {
            if (!tools({"pactl"}))
                QSKIP("needs the X display and sound server of tools/with-test-env");
            QProcess offscreen;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
            offscreen.setProcessEnvironment(env);
            offscreen.setProcessChannelMode(QProcess::ForwardedChannels);
            offscreen.start(QCoreApplication::applicationFilePath(),
                            {QString::fromLatin1(QTest::currentTestFunction())});
            QVERIFY(offscreen.waitForFinished(60000));
            QCOMPARE(offscreen.exitCode(), 0);
            return;
        }
        const XScreen x; // the display the device's child could reach
        TestSupport::MessageRecorder boxes;
        TMediaPlayer player;
        TVideoWindow video(&player, nullptr);
        open(player, Media(QStringLiteral("clip.avi")));
        player.PlayMedia();
        QTRY_COMPARE_WITH_TIMEOUT(boxes.messages.size(), 1, PatienceMs);
        QVERIFY2(boxes.messages[0].contains(QStringLiteral("X display")) &&
                     boxes.messages[0].contains(QStringLiteral("clip.avi")),
                 qPrintable(boxes.messages[0]));
        QVERIFY(!video.window());
        QTRY_VERIFY_WITH_TIMEOUT(player.MediaPosition() >= 800, PatienceMs);
        QCOMPARE(player.MediaMode(), TMPModes::mpPlaying);
        QTRY_COMPARE_WITH_TIMEOUT(corked(QCoreApplication::applicationPid()), QByteArray("no"),
                                  PatienceMs);
        QCOMPARE(x.strangers(0), 0);
    }

    // The real program on a 640 x 480 screen of its own, driven by keys.
    void theProgramShowsEachVideoInItsOwnWindow() {
        if (!tools({"Xvfb", "xdotool", "pactl"}))
            QSKIP("needs Xvfb, xdotool and the sound server of tools/with-test-env");
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
        const qint64 pid = player.processId();
        const XScreen x(display.name);
        QVERIFY(!xcb_connection_has_error(x.c));
        const QRect screen = x.screen();

        xcb_window_t video = 0;
        QTRY_VERIFY_WITH_TIMEOUT((video = x.find(pid, "long.avi")), 20000);
        QCOMPARE(x.geometry(video).size(), QSize(320, 240));
        QVERIFY(screen.contains(x.geometry(video)));
        QVERIFY(x.property(video, "_NET_WM_ICON").size() > 16 * 16 * 4);
        QTRY_VERIFY_WITH_TIMEOUT(x.litShare(video) > 0.5, PatienceMs);
        QCOMPARE(x.strangers(pid), 0);

        // The next track, sound alone: the window goes.
        const xcb_window_t main = x.find(pid, "Tolvane");
        QVERIFY(main);
        const auto press = [&](const char* key) {
            // One connection that stays a moment after the key: a busy X
            // server may drop what a client sent just before it hung up.
            run(QStringLiteral("xdotool"),
                {QStringLiteral("windowfocus"), QStringLiteral("--sync"), QString::number(main),
                 QStringLiteral("key"), QString::fromLatin1(key), QStringLiteral("sleep"),
                 QStringLiteral("0.3")},
                env);
        };
        press("b");
        QTRY_VERIFY_WITH_TIMEOUT(!x.viewable(video), 20000);
        QCOMPARE(x.strangers(pid), 0);

        // A video larger than the screen comes fitted, whole on the screen.
        press("b");
        xcb_window_t wide = 0;
        QTRY_VERIFY_WITH_TIMEOUT((wide = x.find(pid, "wide.avi")), 20000);
        QCOMPARE(x.geometry(wide).size(), QSize(640, 320));
        QVERIFY(screen.contains(x.geometry(wide)));

        // It ends, and the list starts over: closed by the user, the window
        // only hides and the sound plays on.
        QTRY_VERIFY_WITH_TIMEOUT((video = x.find(pid, "long.avi")), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(corked(pid), QByteArray("no"), PatienceMs);
        TestSupport::SendProtocol(x.c, video, "WM_DELETE_WINDOW");
        QTRY_VERIFY_WITH_TIMEOUT(!x.viewable(video), PatienceMs);
        QTest::qWait(500);
        QCOMPARE(corked(pid), QByteArray("no"));
        QVERIFY(player.state() == QProcess::Running);
        QCOMPARE(x.strangers(pid), 0);

        player.terminate();
        QVERIFY(player.waitForFinished(15000));
    }
};

QTEST_MAIN(VideoWindowTest)

#include "tst_videowindow.moc"
