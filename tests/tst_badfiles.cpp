// The program over a list of damaged files, run as a user runs it: it stays
// alive, answers the window manager's ping at every moment, ends when its
// window is closed, and keeps every file that plays.

#include "TestSupport.h"

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

// What a window manager sees of the program's windows, and what it sends them.
class XServer {
public:
    XServer() : c_(xcb_connect(nullptr, nullptr)) {
        root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
    }
    ~XServer() { xcb_disconnect(c_); }
    bool ok() const { return !xcb_connection_has_error(c_); }
    xcb_connection_t* connection() const { return c_; }
    xcb_window_t root() const { return root_; }

    xcb_atom_t atom(const char* name) const {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            c_, xcb_intern_atom(c_, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(reply);
        return atom;
    }

    QByteArray property(xcb_window_t window, const char* name) const {
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            c_, xcb_get_property(c_, 0, window, atom(name), XCB_GET_PROPERTY_TYPE_ANY, 0, 4096),
            nullptr);
        QByteArray value;
        if (reply)
            value = QByteArray(static_cast<const char*>(xcb_get_property_value(reply)),
                               xcb_get_property_value_length(reply));
        free(reply);
        return value;
    }

    // The top-level window of process pid whose title starts with title.
    xcb_window_t find(qint64 pid, const QByteArray& title) const {
        xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c_, xcb_query_tree(c_, root_), nullptr);
        xcb_window_t found = XCB_WINDOW_NONE;
        if (!tree)
            return found;
        const xcb_window_t* children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i) {
            const QByteArray owner = property(children[i], "_NET_WM_PID");
            if (owner.size() != 4 || *reinterpret_cast<const quint32*>(owner.constData()) != pid)
                continue;
            if (property(children[i], "_NET_WM_NAME").startsWith(title))
                found = children[i];
        }
        free(tree);
        return found;
    }

    void sendProtocol(xcb_window_t window, const char* protocol, quint32 stamp) const {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = atom("WM_PROTOCOLS");
        message.data.data32[0] = atom(protocol);
        message.data.data32[1] = stamp;
        message.data.data32[2] = window;
        xcb_send_event(c_, 0, window, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&message));
        xcb_flush(c_);
    }

private:
    xcb_connection_t* c_;
    xcb_window_t root_;
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
    qint64 slowest() const { return slowest_; }
    int answered() const { return answered_; }

private:
    void Run(xcb_window_t window) {
        XServer display;
        // The answer goes to the root window, to those who listen to it.
        const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(display.connection(), display.root(), XCB_CW_EVENT_MASK,
                                     &mask);
        const xcb_atom_t protocols = display.atom("WM_PROTOCOLS");
        const xcb_atom_t ping = display.atom("_NET_WM_PING");
        pollfd fd{xcb_get_file_descriptor(display.connection()), POLLIN, 0};
        for (quint32 stamp = 1; !stop_; ++stamp) {
            display.sendProtocol(window, "_NET_WM_PING", stamp);
            QElapsedTimer clock;
            clock.start();
            bool back = false;
            while (!back && !stop_ && clock.elapsed() < 5000) {
                poll(&fd, 1, 20);
                while (xcb_generic_event_t* event = xcb_poll_for_event(display.connection())) {
                    const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
                    if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE &&
                        message->type == protocols && message->data.data32[0] == ping &&
                        message->data.data32[1] == stamp)
                        back = true;
                    free(event);
                }
            }
            if (stop_ && !back)
                return;
            if (clock.elapsed() > 300)
                qWarning("ping %u answered after %lld ms", stamp, (long long)clock.elapsed());
            slowest_ = std::max<qint64>(slowest_, clock.elapsed());
            answered_ += back;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    std::atomic<bool> stop_{false};
    std::atomic<qint64> slowest_{0};
    std::atomic<int> answered_{0};
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

    QTemporaryDir state;
    QProcess player;
    std::unique_ptr<XServer> display;
    xcb_window_t mainWindow = XCB_WINDOW_NONE;
    xcb_window_t listWindow = XCB_WINDOW_NONE;

    QString playlistPath() const { return state.filePath(QStringLiteral("tolvane/PlayList.plf")); }

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
    // that may open all the same stay in the list.
    void startOnTheDamagedList() {
        const QList<QByteArray> bad = failing();
        const QList<QByteArray> good = valid();
        QByteArray list;
        for (int i = 0; i < bad.size(); ++i) {
            list += bad[i] + "\r\n";
            if (i < good.size())
                list += good[i] + "\r\n";
        }
        list += Media("corrupt/flipped.mid") + "\r\n" + Media("corrupt/flipped.rmi") + "\r\n";
        QVERIFY(QDir().mkpath(state.filePath(QStringLiteral("tolvane"))));
        TestSupport::WriteFile(QFile::encodeName(playlistPath()), list);

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_STATE_HOME"), state.path());
        player.setProcessEnvironment(env);
        player.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        player.start(QStringLiteral(TOLVANE_PROGRAM), QStringList());
        QVERIFY(player.waitForStarted());
        display = std::make_unique<XServer>();
        QVERIFY(display->ok());
        QTRY_VERIFY_WITH_TIMEOUT((mainWindow = display->find(player.processId(), "Tolvane")) &&
                                     (listWindow = display->find(player.processId(), "Play List")),
                                 15000);
    }

    QByteArray title(xcb_window_t window, const char* property = "_NET_WM_NAME") {
        return display->property(window, property);
    }

    void closePolitelyAndCheckTheList() {
        display->sendProtocol(mainWindow, "WM_DELETE_WINDOW", XCB_CURRENT_TIME);
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
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs the virtual display of tools/with-test-env");
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            QSKIP("xdotool is not installed");
        if (TestSupport::MediaDir().isEmpty())
            QSKIP("TOLVANE_TEST_MEDIA is not set; run under tools/with-test-env");
    }
    void cleanup() {
        if (player.state() != QProcess::NotRunning) {
            player.kill();
            player.waitForFinished();
        }
        display.reset();
    }

    void clearBadFilesKeepsTheWindowAnswering() {
        startOnTheDamagedList();
        Pinger pinger(mainWindow);
        // "&Clear", then its menu's "Clear Bad Files" (after "Clear Play
        // List" and a separator).
        xdotool(
            {QStringLiteral("windowfocus"), QStringLiteral("--sync"), QString::number(listWindow)});
        xdotool({QStringLiteral("key"), QStringLiteral("alt+c")});
        QTest::qWait(500);
        xdotool({QStringLiteral("key"), QStringLiteral("Down"), QStringLiteral("Down"),
                 QStringLiteral("Return")});
        const QByteArray after = "Play List: " + QByteArray::number(valid().size() + 2) + " items";
        QTRY_COMPARE_WITH_TIMEOUT(title(listWindow), after, 90000);
        QCOMPARE(player.state(), QProcess::Running);
        qInfo("slowest answer to a ping: %lld ms of %d", qlonglong(pinger.slowest()),
              pinger.answered());
        QVERIFY2(pinger.slowest() < PingLimitMs(), qPrintable(QString::number(pinger.slowest())));
        QVERIFY(pinger.answered() > 0);
        closePolitelyAndCheckTheList();
    }

    void playThroughRecoversAndPlaysEveryValidFile() {
        startOnTheDamagedList();
        Pinger pinger(mainWindow);
        // Play on the first entry, which hangs the media device: the
        // recovery scans the list and plays on with what opens.
        xdotool(
            {QStringLiteral("windowfocus"), QStringLiteral("--sync"), QString::number(mainWindow)});
        xdotool({QStringLiteral("key"), QStringLiteral("x")});
        // The title a task bar shows is the scrolling name of what plays.
        QSet<QByteArray> played;
        QElapsedTimer clock;
        clock.start();
        while (played.size() < valid().size() && clock.elapsed() < 150000 &&
               player.state() == QProcess::Running) {
            const QByteArray shown = title(mainWindow, "_NET_WM_ICON_NAME");
            for (const QByteArray& file : valid())
                if ((shown + shown)
                        .contains(QFileInfo(QFile::decodeName(file)).fileName().toUtf8()))
                    played.insert(file);
            QTest::qWait(200);
        }
        QCOMPARE(player.state(), QProcess::Running);
        QCOMPARE(played.size(), valid().size());
        qInfo("slowest answer to a ping: %lld ms of %d", qlonglong(pinger.slowest()),
              pinger.answered());
        QVERIFY2(pinger.slowest() < PingLimitMs(), qPrintable(QString::number(pinger.slowest())));
        closePolitelyAndCheckTheList();
    }
};

QTEST_GUILESS_MAIN(BadFilesTest)
#include "tst_badfiles.moc"
