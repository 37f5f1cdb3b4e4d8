// The program over a list of damaged files, run as a user runs it: it stays
// alive, answers the window manager's ping at every moment, ends when its
// window is closed, and keeps every file that plays.

#include "TestProgram.h"
#include "TestSupport.h"
#include "XWindows.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <poll.h>
#include <thread>
#include <xcb/xcb.h>

using TestSupport::Media;

// A window-manager ping must be answered within a second. A slower build
// (a sanitized one, say) says by how much in TOLVANE_TIME_SCALE.
static qint64 PingLimitMs() {
    bool ok = false;
    const int scale = qEnvironmentVariableIntValue("TOLVANE_TIME_SCALE", &ok);
    return 1000 * (ok && scale > 1 ? scale : 1);
}

namespace {

// Just enough of a window manager: finds the program's windows, sends them
// protocol messages and hears the answers sent to the root window.
struct XServer {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    ~XServer() { xcb_disconnect(c); }

    xcb_atom_t atom(const char* name) const { return TestSupport::Atom(c, name); }
    QByteArray property(xcb_window_t window, const char* name) const {
        return TestSupport::Property(c, window, name);
    }
    // The top-level window of process pid whose title starts with title.
    xcb_window_t find(qint64 pid, const QByteArray& title) const {
        auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
        xcb_window_t found = XCB_WINDOW_NONE;
        for (int i = 0; tree && i < xcb_query_tree_children_length(tree) && !found; ++i) {
            const xcb_window_t window = xcb_query_tree_children(tree)[i];
            const QByteArray owner = property(window, "_NET_WM_PID");
            if (owner.size() == 4 && *reinterpret_cast<const quint32*>(owner.constData()) == pid &&
                property(window, "_NET_WM_NAME").startsWith(title))
                found = window;
        }
        free(tree);
        return found;
    }
    void sendProtocol(xcb_window_t window, const char* protocol, quint32 stamp) const {
        TestSupport::SendProtocol(c, window, protocol, stamp);
    }
};

// Pings a window over and over, as a window manager does to find programs
// that hang, on a connection and a thread of its own; keeps the slowest
// answer (an unanswered ping counts as the time given up on it).
class Pinger {
public:
    explicit Pinger(xcb_window_t window) : thread_([this, window] { Run(window); }) {}
    ~Pinger() {
        stop_ = true;
        thread_.join();
    }
    std::atomic<qint64> slowest{0};
    std::atomic<int> answered{0};

private:
    void Run(xcb_window_t window) {
        XServer x;
        // The answer goes to the root window, to those who listen to it.
        const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(x.c, x.root, XCB_CW_EVENT_MASK, &mask);
        const xcb_atom_t protocols = x.atom("WM_PROTOCOLS"), ping = x.atom("_NET_WM_PING");
        pollfd fd{xcb_get_file_descriptor(x.c), POLLIN, 0};
        for (quint32 stamp = 1; !stop_; ++stamp) {
            x.sendProtocol(window, "_NET_WM_PING", stamp);
            QElapsedTimer clock;
            clock.start();
            bool back = false;
            while (!back && !stop_ && clock.elapsed() < 5000) {
                poll(&fd, 1, 20);
                while (xcb_generic_event_t* event = xcb_poll_for_event(x.c)) {
                    const auto* m = reinterpret_cast<xcb_client_message_event_t*>(event);
                    back |= (event->response_type & 0x7f) == XCB_CLIENT_MESSAGE &&
                            m->type == protocols && m->data.data32[0] == ping &&
                            m->data.data32[1] == stamp;
                    free(event);
                }
            }
            if (stop_ && !back)
                return;
            slowest = std::max<qint64>(slowest, clock.elapsed());
            answered += back;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    std::atomic<bool> stop_{false};
    std::thread thread_;
};

void xdotool(const QStringList& arguments) {
    QProcess tool;
    tool.start(QStringLiteral("xdotool"), arguments);
    QVERIFY(tool.waitForFinished(10000));
}

} // namespace

class BadFilesTest : public QObject {
    Q_OBJECT

    TestSupport::StateFolder state;
    QProcess player;
    std::unique_ptr<XServer> x;
    xcb_window_t mainWindow = XCB_WINDOW_NONE;
    xcb_window_t listWindow = XCB_WINDOW_NONE;

    QString playlistPath() const { return state.playlistPath(); }

    const QList<QByteArray> valid() const {
        return {Media("tone.mp3"), Media("tone.wav"), Media("tune.mid"), Media("tone.wma")};
    }
    // Those that fail to open, three of them by hanging the media device.
    const QList<QByteArray> failing() const {
        QList<QByteArray> files;
        for (const char* name : {"realtime.mid", "undefined.mid", "flipped.wma", "hugeriff.rmi",
                                 "noise.wma", "hugetrack.mid"})
            files << Media(QStringLiteral("corrupt/%1").arg(QLatin1String(name)));
        return files;
    }

    // Damaged files first and between the good ones; two damaged files
    // that may open all the same stay in the list. Keys go to window.
    void startOnTheDamagedList(xcb_window_t& window) {
        const QList<QByteArray> bad = failing(), good = valid();
        QByteArray list;
        for (int i = 0; i < bad.size(); ++i)
            list += bad[i] + "\r\n" + (i < good.size() ? good[i] + "\r\n" : QByteArray());
        list += Media("corrupt/flipped.mid") + "\r\n" + Media("corrupt/flipped.rmi") + "\r\n";
        startOn(list, window);
    }

    // keepErrors: the program's error output is kept (readAllStandardError)
    // rather than passed on.
    void startOn(const QByteArray& list, xcb_window_t& window, bool keepErrors = false) {
        state.writePlaylist(list);
        if (keepErrors) {
            player.setProcessEnvironment(state.environment());
            player.setProcessChannelMode(QProcess::SeparateChannels);
            player.start(QStringLiteral(TOLVANE_PROGRAM), QStringList());
            QVERIFY(player.waitForStarted());
        } else {
            TestSupport::StartProgram(player, state.environment());
        }
        x = std::make_unique<XServer>();
        QVERIFY(!xcb_connection_has_error(x->c));
        QTRY_VERIFY_WITH_TIMEOUT((mainWindow = x->find(player.processId(), "Tolvane")) &&
                                     (listWindow = x->find(player.processId(), "Play List")),
                                 15000);
        xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), QString::number(window)});
    }

    // Whether the task bar title (the marquee, which scrolls: seen twice
    // over it holds the whole name) comes to `name` within a minute while
    // the program runs.
    bool titleComesToName(const char* name) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 60000 && player.state() == QProcess::Running) {
            const QByteArray shown = x->property(mainWindow, "_NET_WM_ICON_NAME");
            if ((shown + shown).contains(name))
                return true;
            QTest::qWait(200);
        }
        return false;
    }

    void checkPings(const Pinger& pinger) {
        qInfo("slowest answer to a ping: %lld ms of %d", qlonglong(pinger.slowest.load()),
              pinger.answered.load());
        QVERIFY2(pinger.slowest < PingLimitMs(),
                 qPrintable(QString::number(pinger.slowest.load())));
    }

    void closePolitelyAndCheckTheList() {
        x->sendProtocol(mainWindow, "WM_DELETE_WINDOW", XCB_CURRENT_TIME);
        QVERIFY(player.waitForFinished(15000));
        QCOMPARE(player.exitStatus(), QProcess::NormalExit);
        QCOMPARE(player.exitCode(), 0);
        QFile saved(playlistPath());
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QList<QByteArray> kept = saved.readAll().split('\n');
        for (const QByteArray& file : valid())
            QVERIFY2(kept.contains(file + '\r'), file.constData());
        for (const QByteArray& file : failing())
            QVERIFY2(!kept.contains(file + '\r'), file.constData());
    }

private slots:
    void init() {
        if (qEnvironmentVariableIsEmpty("DISPLAY") || TestSupport::MediaDir().isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            QSKIP("needs xdotool and the display and media of tools/with-test-env");
    }
    void cleanup() {
        if (player.state() != QProcess::NotRunning) {
            player.kill();
            player.waitForFinished();
        }
        x.reset();
    }

    void clearBadFilesKeepsTheWindowAnswering() {
        startOnTheDamagedList(listWindow);
        Pinger pinger(mainWindow);
        // "&Clear", then its menu's "Clear Bad Files" (after "Clear Play
        // List" and a separator).
        xdotool({QStringLiteral("key"), QStringLiteral("alt+c")});
        QTest::qWait(500);
        xdotool({QStringLiteral("key"), QStringLiteral("Down"), QStringLiteral("Down"),
                 QStringLiteral("Return")});
        const QByteArray after = "Play List: " + QByteArray::number(valid().size() + 2) + " items";
        QTRY_COMPARE_WITH_TIMEOUT(x->property(listWindow, "_NET_WM_NAME"), after, 90000);
        QCOMPARE(player.state(), QProcess::Running);
        checkPings(pinger);
        QVERIFY(pinger.answered > 0);
        closePolitelyAndCheckTheList();
    }

    void playThroughRecoversAndPlaysEveryValidFile() {
        startOnTheDamagedList(mainWindow);
        Pinger pinger(mainWindow);
        // Play on the first entry, which hangs the media device: the
        // recovery scans the list and plays on with what opens.
        xdotool({QStringLiteral("key"), QStringLiteral("x")});
        // The title a task bar shows is the scrolling name of what plays.
        QSet<QByteArray> played;
        QElapsedTimer clock;
        clock.start();
        while (played.size() < valid().size() && clock.elapsed() < 150000 &&
               player.state() == QProcess::Running) {
            const QByteArray shown = x->property(mainWindow, "_NET_WM_ICON_NAME");
            for (const QByteArray& file : valid())
                if ((shown + shown)
                        .contains(QFileInfo(QFile::decodeName(file)).fileName().toUtf8()))
                    played.insert(file);
            QTest::qWait(200);
        }
        QCOMPARE(player.state(), QProcess::Running);
        QCOMPARE(played.size(), valid().size());
        checkPings(pinger);
        closePolitelyAndCheckTheList();
    }

    // A damaged MPEG that opens, then brings its decoder (libmpeg2) down
    // with SIGSEGV as it plays: it costs that track, as a stream that broke
    // off, and the next entry plays.
    void aDecoderThatCrashesCostsOneTrack() {
        startOn(Media("corrupt/flipped.mpg") + "\r\n" + Media("tone.wav") + "\r\n", mainWindow);
        Pinger pinger(mainWindow);
        xdotool({QStringLiteral("key"), QStringLiteral("x")});
        const bool next = titleComesToName("tone.wav");
        QCOMPARE(player.state(), QProcess::Running);
        QVERIFY(next);
        checkPings(pinger);
        x->sendProtocol(mainWindow, "WM_DELETE_WINDOW", XCB_CURRENT_TIME);
        QVERIFY(player.waitForFinished(15000));
        QCOMPARE(player.exitStatus(), QProcess::NormalExit);
    }

    // A line longer than any file name (and than the worker takes in one
    // request) is a bad entry like the others: the scan removes it and ends.
    void aNameLongerThanAnyFileIsCleared() {
        const QByteArray endless = "/" + QByteArray(1100 * 1024, 'n') + ".wav";
        startOn(Media("tone.wav") + "\r\n" + endless + "\r\n" + Media("tone.mp3") + "\r\n",
                listWindow);
        xdotool({QStringLiteral("key"), QStringLiteral("alt+c")});
        QTest::qWait(500);
        xdotool({QStringLiteral("key"), QStringLiteral("Down"), QStringLiteral("Down"),
                 QStringLiteral("Return")});
        QTRY_COMPARE_WITH_TIMEOUT(x->property(listWindow, "_NET_WM_NAME"),
                                  QByteArray("Play List: 2 items"), 60000);
        x->sendProtocol(mainWindow, "WM_DELETE_WINDOW", XCB_CURRENT_TIME);
        QVERIFY(player.waitForFinished(15000));
        QCOMPARE(player.exitCode(), 0);
    }

    // Play on a long list of missing files starts the recovery scan; a
    // close in the middle of it ends the program without trying the rest,
    // and leaves no worker behind.
    void aCloseDuringTheRecoveryEndsTheProgram() {
        QByteArray list;
        for (int i = 0; i < 20000; ++i)
            list += "/nonexistent/tolvane/missing-" + QByteArray::number(i) + ".wav\r\n";
        startOn(list, mainWindow);
        const QByteArray parent = QByteArray::number(player.processId()) + " ";
        // Its tester workers, as far as a look every few milliseconds
        // catches them.
        const auto workers = [&parent] {
            QSet<QByteArray> found;
            for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
                QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
                // pid (comm) state ppid ...
                const QByteArray line = stat.open(QIODevice::ReadOnly) ? stat.readAll() : "";
                if (line.contains("(tolvane-tester) ") &&
                    line.mid(line.lastIndexOf(')') + 4).startsWith(parent))
                    found.insert(pid.toUtf8());
            }
            return found;
        };
        xdotool({QStringLiteral("key"), QStringLiteral("x")});
        QTRY_VERIFY_WITH_TIMEOUT(!workers().isEmpty(), 15000);
        QTest::qWait(300);
        const QByteArray caption = x->property(listWindow, "_NET_WM_NAME");
        qInfo("closed at: %s", caption.constData());
        QVERIFY(player.state() == QProcess::Running);
        const QSet<QByteArray> before = workers();
        x->sendProtocol(mainWindow, "WM_DELETE_WINDOW", XCB_CURRENT_TIME);
        QSet<QByteArray> after;
        QElapsedTimer clock;
        clock.start();
        while (!player.waitForFinished(5) && clock.elapsed() < 60000)
            after += workers() - before;
        qInfo("workers started after the close: %lld", qlonglong(after.size()));
        QCOMPARE(player.state(), QProcess::NotRunning);
        QVERIFY2(after.size() < 10, qPrintable(QString::number(after.size())));
        QCOMPARE(player.exitStatus(), QProcess::NormalExit);
        QCOMPARE(player.exitCode(), 0);
        QDir proc(QStringLiteral("/proc"));
        for (const QString& pid : proc.entryList(QDir::Dirs)) {
            QFile cmd(QStringLiteral("/proc/%1/cmdline").arg(pid));
            if (cmd.open(QIODevice::ReadOnly) && cmd.readAll().contains("tolvane-tester")) {
                QFile env(QStringLiteral("/proc/%1/environ").arg(pid));
                QVERIFY2(!env.open(QIODevice::ReadOnly) ||
                             !env.readAll().contains(state.path().toUtf8()),
                         qPrintable(pid));
            }
        }
    }

    // A WAV one byte short makes GStreamer complain for every buffer it
    // plays: the track says a few lines, and the next one plays.
    void aWavOneByteShortEndsWithoutFloodingTheLog() {
        QTemporaryDir folder;
        QFile tone(QFile::decodeName(Media("tone.wav")));
        QVERIFY(tone.open(QIODevice::ReadOnly));
        const QByteArray whole = tone.readAll();
        const QString shortWav = folder.filePath(QStringLiteral("short.wav"));
        QFile cut(shortWav);
        QVERIFY(cut.open(QIODevice::WriteOnly));
        cut.write(whole.left(whole.size() - 1));
        cut.close();
        startOn(QFile::encodeName(shortWav) + "\r\n" + Media("tone.mp3") + "\r\n", mainWindow,
                true);
        xdotool({QStringLiteral("key"), QStringLiteral("x")});
        const bool next = titleComesToName("tone.mp3");
        QVERIFY(next);
        x->sendProtocol(mainWindow, "WM_DELETE_WINDOW", XCB_CURRENT_TIME);
        QVERIFY(player.waitForFinished(15000));
        const qsizetype lines = player.readAllStandardError().count("GStreamer-");
        qInfo("lines from GStreamer: %lld", qlonglong(lines));
        QVERIFY2(lines < 100, qPrintable(QString::number(lines)));
    }
};

QTEST_GUILESS_MAIN(BadFilesTest)
#include "tst_badfiles.moc"
