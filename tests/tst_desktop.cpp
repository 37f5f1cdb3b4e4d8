// The player as the desktop meets it: started with files, started a second
// time, driven by playerctl over MPRIS. The real program runs on a session
// bus of this test's own (playerctl -p tolvane would find any player on a
// shared bus) and the private sound server and display of
// tools/with-test-env; results are read from the sound server's streams and
// from the windows' texts as the X server holds them.

#include "TestProgram.h"
#include "TestSupport.h"
#include "desktop/SingleInstance.h"

#include <QBuffer>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <optional>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <taglib/asffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/wavfile.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Runs a command (words split at blanks) and gives its output.
QString run(const QString& command, const QProcessEnvironment& env = {}) {
    QProcess process;
    if (!env.isEmpty())
        process.setProcessEnvironment(env);
    const QStringList words = QProcess::splitCommand(command);
    process.start(words.first(), words.mid(1));
    process.waitForFinished(20000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TOLVANE_TEST_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(TOLVANE_TEST_SANITIZED)
constexpr bool SanitizedBuild = true;
#else
constexpr bool SanitizedBuild = false;
#endif

// The player started with its arguments as bytes, as a shell starts it.
class Player {
public:
    Player(QByteArrayList arguments, const QProcessEnvironment& env) {
        QByteArrayList strings;
        for (const QString& entry : env.toStringList())
            strings.append(QFile::encodeName(entry));
        std::vector<char*> envp, argv{const_cast<char*>(TOLVANE_PROGRAM)};
        for (QByteArray& s : strings)
            envp.push_back(s.data());
        for (QByteArray& a : arguments)
            argv.push_back(a.data());
        envp.push_back(nullptr);
        argv.push_back(nullptr);
        if (::posix_spawn(&pid, TOLVANE_PROGRAM, nullptr, nullptr, argv.data(), envp.data()) != 0)
            pid = -1;
    }
    ~Player() {
        if (pid > 0 && !exitCode(0)) {
            ::kill(pid, SIGTERM);
            ::kill(pid, SIGCONT); // a copy a test stopped must not be left so
            exitCode(10000);
        }
    }
    // The exit code once the program has ended within `ms`.
    std::optional<int> exitCode(int ms) {
        for (QDeadlineTimer deadline(ms); !code_; QTest::qWait(50)) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid)
                code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            else if (deadline.hasExpired())
                break;
        }
        return code_;
    }
    pid_t pid = -1;

private:
    std::optional<int> code_;
};

// The player's stream on the sound server: "no" while it sounds, "yes"
// while it is held (paused or stopped), empty when it has none.
QString corked(pid_t pid) {
    for (const QString& block : run(u"pactl list sink-inputs"_s).split(u"Sink Input #"_s))
        if (block.contains(u"application.process.id = \"%1\""_s.arg(pid)))
            return QRegularExpression(u"Corked: (\\w+)"_s).match(block).captured(1);
    return {};
}

// A property of the player's stream on the sound server (of whichever
// process plays it); empty while it has none.
QString streamProperty(pid_t pid, const QString& name) {
    for (const QString& block : run(u"pactl list sink-inputs"_s).split(u"Sink Input #"_s))
        if (block.contains(u"application.process.id = \"%1\""_s.arg(pid)))
            return QRegularExpression(u"\\b"_s + QRegularExpression::escape(name) +
                                      u" = \"(.*)\""_s)
                .match(block)
                .captured(1);
    return {};
}

// The player's top-level window whose title begins with `title`: its title,
// its icon name (the text a task bar shows; the marquee while playing) and
// its id.
QStringList window(pid_t pid, const QString& title) {
    static const QRegularExpression line(u"^\\s+(0x[0-9a-f]+) \"(.*)\": \\("_s,
                                         QRegularExpression::MultilineOption);
    for (auto it = line.globalMatch(run(u"xwininfo -root -children"_s)); it.hasNext();) {
        const auto match = it.next();
        const QString xprop = u"xprop -id "_s + match.captured(1);
        if (match.captured(2).startsWith(title) &&
            run(xprop + u" _NET_WM_PID"_s).endsWith(u" = %1"_s.arg(pid)))
            return {match.captured(2), run(xprop + u" _NET_WM_ICON_NAME"_s).section(u'"', 1, -2),
                    match.captured(1)};
    }
    return {};
}

QString playlistTitle(pid_t pid) {
    return window(pid, u"Play List"_s).value(0);
}
QString taskbarText(pid_t pid) {
    return window(pid, u"Tolvane"_s).value(1);
}

// Keys pressed on the main window, as the user presses them.
void pressKeys(pid_t pid, const QStringList& keys) {
    const QString id = window(pid, u"Tolvane"_s).value(2);
    QVERIFY(!id.isEmpty());
    run(u"xdotool windowfocus --sync "_s + id);
    run(u"xdotool key "_s + keys.join(u' '));
}

// How often the threads of a process have given up the processor so far,
// by waiting or by being made to.
qint64 contextSwitches(pid_t pid) {
    const QString tasks = u"/proc/%1/task"_s.arg(pid);
    qint64 sum = 0;
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(tasks + u'/' + task + u"/status"_s);
        if (!status.open(QIODevice::ReadOnly))
            continue; // the thread has ended
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("voluntary_ctxt_switches:") ||
                line.startsWith("nonvoluntary_ctxt_switches:"))
                sum += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
    }
    return sum;
}

// What the player tells the bus, as a desktop's sound menu hears it.
class BusListener : public QObject {
    Q_OBJECT
public:
    explicit BusListener(const QString& address)
        : bus(QDBusConnection::connectToBus(address, u"listener"_s)) {
        bus.connect({}, Path, u"org.mpris.MediaPlayer2.Player"_s, u"Seeked"_s, this,
                    SLOT(seeked(qlonglong)));
        bus.connect({}, Path, u"org.freedesktop.DBus.Properties"_s, u"PropertiesChanged"_s, this,
                    SLOT(changed(QString, QVariantMap, QStringList)));
    }
    ~BusListener() override { QDBusConnection::disconnectFromBus(u"listener"_s); }

    QDBusMessage call(const QString& method, const QVariantList& arguments = {},
                      const QString& interface = u"org.mpris.MediaPlayer2.Player"_s) {
        QDBusMessage message = QDBusMessage::createMethodCall(u"org.mpris.MediaPlayer2.tolvane"_s,
                                                              Path, interface, method);
        message.setArguments(arguments);
        return message;
    }
    // The values PlaybackStatus was changed to, in order.
    QStringList statuses() const {
        QStringList result;
        for (const QVariantMap& change : changes)
            if (change.contains(u"PlaybackStatus"_s))
                result.append(change.value(u"PlaybackStatus"_s).toString());
        return result;
    }

    QDBusConnection bus;
    QList<qlonglong> seeks; // microseconds
    QList<QVariantMap> changes;

private slots:
    void seeked(qlonglong position) { seeks.append(position); }
    void changed(const QString&, const QVariantMap& properties, const QStringList&) {
        changes.append(properties);
    }

private:
    static inline const QString Path = u"/org/mpris/MediaPlayer2"_s;
};

} // namespace

class DesktopTest : public QObject {
    Q_OBJECT

    TestSupport::StateFolder state;
    QProcessEnvironment busEnv = QProcessEnvironment::systemEnvironment();
    QProcessEnvironment playerEnv;
    pid_t busPid = 0;

    QString playerctl(const QString& command) {
        return run(u"playerctl -p tolvane "_s + command, busEnv);
    }
    // A second start in the same session: it must hand over and end, and
    // with it the child its start made for the first file, which comes to
    // this process (a subreaper) only dead, and is reaped here.
    void startAgain(const QByteArrayList& arguments, const QProcessEnvironment& env) {
        QCOMPARE(Player(arguments, env).exitCode(20000), std::optional<int>(0));
        const auto dead = [] {
            return std::ranges::all_of(TestSupport::ChildrenNamed("tolvane-tester"),
                                       [](const auto& child) { return child.state == 'Z'; });
        };
        QTRY_VERIFY_WITH_TIMEOUT(dead(), 5000);
        for (const TestSupport::ChildProcess& child : TestSupport::ChildrenNamed("tolvane-tester"))
            ::waitpid(child.pid, nullptr, 0);
    }

private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("DISPLAY") || run(u"pactl info"_s).isEmpty() ||
            QStandardPaths::findExecutable(u"playerctl"_s).isEmpty() ||
            QStandardPaths::findExecutable(u"dbus-daemon"_s).isEmpty())
            QSKIP("needs tools/with-test-env, playerctl and dbus-daemon");
        const QStringList info = run(u"dbus-daemon --session --fork --nopidfile "
                                     "--print-address=1 --print-pid=1"_s)
                                     .split(u'\n');
        QCOMPARE(info.size(), 2);
        busPid = pid_t(info[1].toInt());
        QCOMPARE(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
        busEnv.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, info[0]);
        playerEnv = state.environment(busEnv);
    }
    void cleanupTestCase() {
        if (busPid > 0)
            ::kill(busPid, SIGTERM);
    }

    void optionsAnswerWithoutADisplay() {
        QProcess process;
        QProcessEnvironment env = busEnv;
        env.remove(u"DISPLAY"_s);
        process.setProcessEnvironment(env);
        const auto answer = [&process](const QStringList& arguments) {
            process.start(QStringLiteral(TOLVANE_PROGRAM), arguments);
            return process.waitForFinished(10000) ? process.exitCode() : -1;
        };
        QCOMPARE(answer({u"--version"_s}), 0);
        QCOMPARE(process.readAllStandardOutput(), "tolvane 1.0\n");
        QCOMPARE(answer({u"--help"_s}), 0);
        QVERIFY(process.readAllStandardOutput().startsWith("Usage: tolvane "));
        QCOMPARE(answer({u"--shuffle"_s, u"a.mp3"_s}), 2);
        QVERIFY(process.readAllStandardOutput().isEmpty());
        QVERIFY(process.readAllStandardError().contains("\nUsage: tolvane "));

        // Started from a text console, the player says in one line why it
        // cannot run, and ends by itself rather than by an abort.
        env.remove(u"WAYLAND_DISPLAY"_s);
        env.remove(u"QT_QPA_PLATFORM"_s);
        process.setProcessEnvironment(env);
        QCOMPARE(answer({}), 1);
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        const QByteArray said = process.readAllStandardError();
        QVERIFY2(said.contains("graphical session") && said.count('\n') == 1, said.constData());
    }

    void filesOnTheCommandLinePlayAndASecondStartHandsItsFilesOver() {
        // A name in Latin-1 bytes, not valid UTF-8, must reach the device.
        const QByteArray odd = QFile::encodeName(TestSupport::MediaDir()) + "/\xe9t\xe9.mp3";
        QTemporaryDir folder;
        QVERIFY(QFile::copy(TestSupport::MediaDir() + u"/tone.wav"_s, folder.filePath(u"b.wav"_s)));
        TestSupport::WriteFile(QFile::encodeName(folder.filePath(u"notes.txt"_s)), "x");
        const QByteArray list = QFile::encodeName(state.filePath(u"two.plf"_s));
        TestSupport::WriteFile(list, TestSupport::Media(u"tone.mp3"_s) + "\r\n" +
                                         TestSupport::Media(u"tone.wma"_s) + "\r\n");

        Player player({odd}, playerEnv);
        QTRY_COMPARE_WITH_TIMEOUT(corked(player.pid), u"no"_s, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(playlistTitle(player.pid), u"Play List: 1 items"_s, 10000);
        // The desktop's media controls come once the playlist is on the
        // screen, which the first file's sound may come before.
        QTRY_COMPARE_WITH_TIMEOUT(playerctl(u"metadata xesam:url"_s).toLatin1(),
                                  "file://" + odd.toPercentEncoding("/"), 10000);

        // A folder: its media files only; then the first of them plays.
        startAgain({QFile::encodeName(folder.path())}, playerEnv);
        QTRY_COMPARE_WITH_TIMEOUT(playlistTitle(player.pid), u"Play List: 2 items"_s, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(taskbarText(player.pid), u"b.wav"_s, 10000);
        QCOMPARE(corked(player.pid), u"no"_s);

        // No files: the running copy is only raised. A playlist file, given
        // as a URL: its entries, as "Add to List" adds them.
        startAgain({}, playerEnv);
        startAgain({"file://" + list.toPercentEncoding("/")}, playerEnv);
        QTRY_COMPARE_WITH_TIMEOUT(playlistTitle(player.pid), u"Play List: 4 items"_s, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(playerctl(u"metadata xesam:title"_s), u"tone.mp3"_s, 10000);

        // The running copy alone writes the automatic playlist, at its end.
        ::kill(player.pid, SIGTERM);
        QCOMPARE(player.exitCode(10000), std::optional<int>(0));
        QFile saved(state.filePath(u"tolvane/PlayList.plf"_s));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll().count("\r\n"), 4);
    }

    void withoutABusASecondStartHandsOverThroughTheSocket() {
        QProcessEnvironment env = playerEnv;
        env.remove(u"DBUS_SESSION_BUS_ADDRESS"_s);
        QFile::remove(state.filePath(u"tolvane/PlayList.plf"_s));
        // A socket left by a copy that did not end normally: nobody listens.
        const QByteArray socketPath =
            SingleInstance::SocketPath(QFile::encodeName(state.filePath(u"tolvane"_s)));
        QVERIFY(!socketPath.isEmpty());
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, socketPath.constData(), sizeof address.sun_path);
        const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QCOMPARE(::bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(stale);

        Player player({TestSupport::Media(u"tone.mp3"_s)}, env);
        QTRY_COMPARE_WITH_TIMEOUT(playlistTitle(player.pid), u"Play List: 1 items"_s, 20000);
        struct stat socketStatus {};
        QCOMPARE(::stat(socketPath.constData(), &socketStatus), 0);
        QCOMPARE(socketStatus.st_mode & 0777, mode_t(0700));
        startAgain({TestSupport::Media(u"tone.wav"_s)}, env);
        QTRY_COMPARE_WITH_TIMEOUT(playlistTitle(player.pid), u"Play List: 2 items"_s, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(taskbarText(player.pid), u"tone.wav"_s, 10000);

        // Neither a bus nor a runtime folder: a copy starts as if alone.
        env.remove(u"XDG_RUNTIME_DIR"_s);
        Player alone({}, env);
        QTRY_VERIFY_WITH_TIMEOUT(!playlistTitle(alone.pid).isEmpty(), 20000);
        QCOMPARE(alone.exitCode(0), std::nullopt);
    }

    // A copy that streams 300 MiB as one path is cut off: the running copy
    // stays small, adds nothing, and still takes the next copy's files.
    void aHandOverBeyondItsLimitIsCutOffAndAddsNothing() {
        QProcessEnvironment env = playerEnv;
        env.remove(u"DBUS_SESSION_BUS_ADDRESS"_s);
        QFile::remove(state.filePath(u"tolvane/PlayList.plf"_s));
        Player player({TestSupport::Media(u"tone.mp3"_s)}, env);
        QTRY_COMPARE_WITH_TIMEOUT(playlistTitle(player.pid), u"Play List: 1 items"_s, 20000);

        const QByteArray socketPath =
            SingleInstance::SocketPath(QFile::encodeName(state.filePath(u"tolvane"_s)));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, socketPath.constData(), sizeof address.sun_path);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QCOMPARE(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        const timeval limit{5, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        // A list of one path of 300 MiB, as QDataStream writes it.
        constexpr qint64 Huge = 300ll << 20;
        QByteArray header;
        QDataStream(&header, QIODevice::WriteOnly) << quint32(1) << quint32(Huge);
        QCOMPARE(::send(fd, header.constData(), size_t(header.size()), MSG_NOSIGNAL),
                 ssize_t(header.size()));
        const QByteArray chunk(1 << 20, 'a');
        qint64 sent = 0;
        for (QDeadlineTimer deadline(60000); sent < Huge && !deadline.hasExpired();) {
            const ssize_t n = ::send(fd, chunk.constData(), size_t(chunk.size()), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += n;
        }
        ::close(fd);
        QVERIFY2(sent < Huge, "the running copy read all of it");

        QFile status(u"/proc/%1/status"_s.arg(player.pid));
        QVERIFY(status.open(QIODevice::ReadOnly));
        QByteArray peak; // the most it was resident at
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("VmHWM:"))
                peak = line;
        // AddressSanitizer keeps freed memory aside and maps its shadow, so
        // the resident size of a sanitized build says nothing of this.
        if (!SanitizedBuild)
            QVERIFY2(peak.mid(6).trimmed().split(' ').first().toLongLong() < 150 * 1024, peak);
        QTest::qWait(500);
        QCOMPARE(playlistTitle(player.pid), u"Play List: 1 items"_s);
        startAgain({TestSupport::Media(u"tone.wav"_s)}, env);
        QTRY_COMPARE_WITH_TIMEOUT(playlistTitle(player.pid), u"Play List: 2 items"_s, 10000);
    }

    // A running copy that is stopped cannot take a second copy's files, and
    // it still owns the playlist: the second copy says so and ends without
    // windows of its own, and the playlist is the first copy's alone.
    void aSecondCopyBesideAStoppedOneEndsWithAMessageAndWritesNothing() {
        if (QStandardPaths::findExecutable(u"xdotool"_s).isEmpty())
            QSKIP("needs xdotool to answer the message box");
        QFile::remove(state.filePath(u"tolvane/PlayList.plf"_s));
        Player first({TestSupport::Media(u"tone.mp3"_s)}, playerEnv);
        QTRY_COMPARE_WITH_TIMEOUT(playlistTitle(first.pid), u"Play List: 1 items"_s, 20000);
        QCOMPARE(::kill(first.pid, SIGSTOP), 0);

        Player second({TestSupport::Media(u"tone.wav"_s)}, playerEnv);
        const QString pid = QString::number(second.pid);
        QString box;
        for (QDeadlineTimer deadline(SingleInstance::TimeoutMs + 20000);
             box.isEmpty() && !deadline.hasExpired(); QTest::qWait(200))
            box = run(u"xdotool search --all --onlyvisible --pid "_s + pid + u" --name Tolvane"_s)
                      .section(u'\n', 0, 0);
        const std::optional<int> early = second.exitCode(0);
        QVERIFY2(!box.isEmpty(), early ? qPrintable(u"no message box; ended with %1"_s.arg(*early))
                                       : "no message box; still running");
        QVERIFY(playlistTitle(second.pid).isEmpty());
        std::optional<int> code;
        for (int i = 0; i < 20 && !code; ++i) {
            run(u"xdotool key --window "_s + box + u" Escape"_s);
            code = second.exitCode(500);
        }
        QCOMPARE(code, std::optional<int>(1));

        QCOMPARE(::kill(first.pid, SIGCONT), 0);
        ::kill(first.pid, SIGTERM);
        QCOMPARE(first.exitCode(10000), std::optional<int>(0));
        QFile saved(state.filePath(u"tolvane/PlayList.plf"_s));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), TestSupport::Media(u"tone.mp3"_s) + "\r\n");
    }

    void playerctlDrivesThePlayerAsItsKeysDo() {
        QFile::remove(state.filePath(u"tolvane/PlayList.plf"_s));
        const QString volumeBefore = run(u"pactl get-sink-volume @DEFAULT_SINK@"_s);
        Player player({TestSupport::Media(u"tone.mp3"_s), TestSupport::Media(u"tone.wav"_s)},
                      playerEnv);
        QTRY_COMPARE_WITH_TIMEOUT(corked(player.pid), u"no"_s, 20000);
        QProcess monitor;
        monitor.start(u"dbus-monitor"_s,
                      {u"--address"_s, busEnv.value(u"DBUS_SESSION_BUS_ADDRESS"_s),
                       u"type='signal',path='/org/mpris/MediaPlayer2'"_s});
        QTest::qWait(500);

        playerctl(u"play-pause"_s);
        QTRY_COMPARE_WITH_TIMEOUT(corked(player.pid), u"yes"_s, 10000);
        QCOMPARE(playerctl(u"status"_s), u"Paused"_s);
        playerctl(u"play-pause"_s);
        QTRY_COMPARE_WITH_TIMEOUT(corked(player.pid), u"no"_s, 10000);

        playerctl(u"next"_s);
        QTRY_COMPARE_WITH_TIMEOUT(taskbarText(player.pid), u"tone.wav"_s, 10000);
        playerctl(u"previous"_s);
        QTRY_COMPARE_WITH_TIMEOUT(taskbarText(player.pid), u"tone.mp3"_s, 10000);
        QCOMPARE(playerctl(u"metadata mpris:length"_s), u"3030000"_s);

        // Repeat: the track near its end plays again; continuous: the next.
        playerctl(u"loop Track"_s);
        QCOMPARE(playerctl(u"loop"_s), u"Track"_s);
        playerctl(u"position 2.5"_s);
        QTRY_VERIFY_WITH_TIMEOUT(playerctl(u"position"_s).toDouble() >= 2.4, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(playerctl(u"position"_s).toDouble() < 2.0, 10000);
        QCOMPARE(playerctl(u"metadata xesam:title"_s), u"tone.mp3"_s);
        playerctl(u"loop None"_s);
        playerctl(u"position 2.5"_s);
        QTRY_VERIFY_WITH_TIMEOUT(playerctl(u"position"_s).toDouble() >= 2.4, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(taskbarText(player.pid), u"tone.wav"_s, 10000);
        playerctl(u"shuffle On"_s);
        QCOMPARE(playerctl(u"shuffle"_s), u"On"_s);
        QCOMPARE(playerctl(u"loop"_s), u"None"_s);

        playerctl(u"volume 0.25"_s);
        QTRY_VERIFY_WITH_TIMEOUT(
            run(u"pactl get-sink-volume @DEFAULT_SINK@"_s).contains(u"/  25% /"_s), 10000);
        QVERIFY(qAbs(playerctl(u"volume"_s).toDouble() - 64.0 / 255) < 1e-5);

        playerctl(u"stop"_s);
        QTRY_COMPARE_WITH_TIMEOUT(taskbarText(player.pid), u"Tolvane"_s, 10000);
        QCOMPARE(playerctl(u"status"_s), u"Stopped"_s);

        QTest::qWait(500);
        monitor.terminate();
        monitor.waitForFinished(5000);
        const QByteArray sent = monitor.readAllStandardOutput();
        const QByteArray variant = "\n         variant             string ";
        QVERIFY(sent.contains("member=Seeked"));
        QVERIFY(sent.contains("string \"PlaybackStatus\"" + variant + "\"Paused\""));
        QVERIFY(sent.contains("string \"LoopStatus\"" + variant + "\"Track\""));
        run(u"pactl set-sink-volume @DEFAULT_SINK@ "_s +
            volumeBefore.section(u':', 2).section(u'/', 0, 0).trimmed());
    }

    void playerctlShowsTheTagsAndCoverOfId3v2AndAsfFiles() {
        QFile::remove(state.filePath(u"tolvane/PlayList.plf"_s));
        QTemporaryDir music, cache;
        QImage image(16, 16, QImage::Format_RGB32);
        image.fill(qRgb(10, 120, 200));
        QByteArray cover;
        QBuffer buffer(&cover);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(image.save(&buffer, "JPG"));
        const auto text = [](const char* utf8) {
            return TagLib::String(utf8, TagLib::String::UTF8);
        };
        const auto copy = [&music](const QString& media, const QString& name) {
            QFile::copy(TestSupport::MediaDir() + u'/' + media, music.filePath(name));
            return QFile::encodeName(music.filePath(name));
        };
        // ID3v2 alone, with the cover in the file.
        const QByteArray mp3 = copy(u"tone.mp3"_s, u"01 tone.mp3"_s);
        {
            TagLib::MPEG::File file(mp3.constData());
            TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
            tag->setTitle(text("Sinus für Anfänger"));
            tag->setArtist(text("The Oscillators"));
            tag->setAlbum(text("Test Tones"));
            auto* picture = new TagLib::ID3v2::AttachedPictureFrame;
            picture->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
            picture->setMimeType("image/jpeg");
            picture->setPicture(TagLib::ByteVector(cover.constData(), uint(cover.size())));
            tag->addFrame(picture);
            QVERIFY(file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers));
        }
        // ASF tags, and the cover as a picture beside the file.
        const QByteArray wma = copy(u"tone.wma"_s, u"02 tone.wma"_s);
        {
            TagLib::ASF::File file(wma.constData());
            file.tag()->setTitle(text("Windows Sine"));
            file.tag()->setArtist(text("Media Format"));
            file.tag()->setAlbum(text("Advanced Systems"));
            QVERIFY(file.save());
        }
        TestSupport::WriteFile(QFile::encodeName(music.filePath(u"Folder.JPG"_s)), cover);

        QProcessEnvironment env = playerEnv;
        env.insert(u"XDG_CACHE_HOME"_s, cache.path());
        Player player({mp3, wma}, env);
        QTRY_COMPARE_WITH_TIMEOUT(corked(player.pid), u"no"_s, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(playerctl(u"metadata xesam:title"_s), u"Sinus für Anfänger"_s,
                                  10000);
        QCOMPARE(playerctl(u"metadata xesam:artist"_s), u"The Oscillators"_s);
        QCOMPARE(playerctl(u"metadata xesam:album"_s), u"Test Tones"_s);
        const QString art = playerctl(u"metadata mpris:artUrl"_s);
        QVERIFY2(art.startsWith(u"file://"_s + cache.path() + u"/tolvane/"_s), qPrintable(art));
        QFile cached(QUrl(art).toLocalFile());
        QVERIFY(cached.open(QIODevice::ReadOnly));
        QCOMPARE(cached.readAll(), cover);

        playerctl(u"next"_s);
        QTRY_COMPARE_WITH_TIMEOUT(playerctl(u"metadata xesam:title"_s), u"Windows Sine"_s, 10000);
        QCOMPARE(playerctl(u"metadata xesam:artist"_s), u"Media Format"_s);
        QCOMPARE(playerctl(u"metadata xesam:album"_s), u"Advanced Systems"_s);
        QCOMPARE(playerctl(u"metadata mpris:artUrl"_s),
                 QString::fromLatin1(
                     "file://" +
                     QFile::encodeName(music.filePath(u"Folder.JPG"_s)).toPercentEncoding("/")));
    }

    void soundStreamsAreNamedByTheirTracksAndShowTheProgram() {
        QFile::remove(state.filePath(u"tolvane/PlayList.plf"_s));
        QTemporaryDir music;
        const auto copy = [&music](const QString& media, const QString& name) {
            QFile::copy(TestSupport::MediaDir() + u'/' + media, music.filePath(name));
            return QFile::encodeName(music.filePath(name));
        };
        const auto text = [](const char* utf8) {
            return TagLib::String(utf8, TagLib::String::UTF8);
        };
        // Tags in an ID3 chunk, which GStreamer does not read from a WAV.
        const QByteArray tagged = copy(u"tone.wav"_s, u"01 tone.wav"_s);
        {
            TagLib::RIFF::WAV::File file(tagged.constData());
            file.ID3v2Tag()->setTitle(text("Sinus für Anfänger"));
            file.ID3v2Tag()->setArtist(text("The Oscillators"));
            QVERIFY(file.save(TagLib::RIFF::WAV::File::ID3v2));
        }
        const QByteArray plain = copy(u"tone.wav"_s, u"02 plain tone.wav"_s);
        const QByteArray midi = copy(u"tune.mid"_s, u"03 tune.mid"_s);
        // GStreamer reads these tags itself and names the stream by them.
        const QByteArray mp3 = copy(u"tone.mp3"_s, u"04 tone.mp3"_s);
        {
            TagLib::MPEG::File file(mp3.constData());
            file.ID3v2Tag(true)->setTitle(text("Square One"));
            file.ID3v2Tag(true)->setArtist(text("Pulse Train"));
            QVERIFY(file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers));
        }

        Player player({tagged, plain, midi, mp3}, playerEnv);
        const auto name = [&player] { return streamProperty(player.pid, u"media.name"_s); };
        QTRY_COMPARE_WITH_TIMEOUT(corked(player.pid), u"no"_s, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(name(), u"Sinus für Anfänger"_s, 10000);
        QCOMPARE(streamProperty(player.pid, u"media.artist"_s), u"The Oscillators"_s);
        QCOMPARE(streamProperty(player.pid, u"application.name"_s), u"Tolvane"_s);
        QCOMPARE(streamProperty(player.pid, u"application.icon_name"_s), u"tolvane"_s);
        playerctl(u"next"_s);
        QTRY_COMPARE_WITH_TIMEOUT(name(), u"02 plain tone.wav"_s, 10000);
        QCOMPARE(streamProperty(player.pid, u"application.name"_s), u"Tolvane"_s);
        playerctl(u"next"_s);
        QTRY_COMPARE_WITH_TIMEOUT(name(), u"03 tune.mid"_s, 10000);
        playerctl(u"next"_s);
        QTRY_COMPARE_WITH_TIMEOUT(name(), u"Square One"_s, 10000);
        QCOMPARE(streamProperty(player.pid, u"media.artist"_s), u"Pulse Train"_s);
    }

    void anIdlePlayerDoesNotWakeUp() {
        QFile::remove(state.filePath(u"tolvane/PlayList.plf"_s));
        const TestSupport::PrivateDisplay display;
        QVERIFY(!display.name.isEmpty());
        QProcessEnvironment env = playerEnv;
        env.insert(u"DISPLAY"_s, display.name);
        Player player({}, env);
        // Its controls reach the bus once the windows have been drawn.
        QDBusConnection bus =
            QDBusConnection::connectToBus(busEnv.value(u"DBUS_SESSION_BUS_ADDRESS"_s), u"idle"_s);
        QTRY_VERIFY_WITH_TIMEOUT(
            bus.interface()->isServiceRegistered(u"org.mpris.MediaPlayer2.tolvane"_s), 20000);
        QDBusConnection::disconnectFromBus(u"idle"_s);
        // Past the start-up's last one-off timer (the playlist window follows
        // the main window's frame for 3 s).
        QTest::qWait(4000);
        const qint64 before = contextSwitches(player.pid);
        QTest::qWait(10000);
        const qint64 woken = contextSwitches(player.pid) - before;
        qInfo("context switches of the idle player in 10 s: %lld", woken);
        // Nothing of its own. The slack is for a wake-up that comes once: Qt
        // ends a pooled thread of the start-up after it idled for 30 s.
        QVERIFY2(woken <= 1, qPrintable(QString::number(woken)));
    }

    void keysAndBusSeeksAreToldAsTheyHappen() {
        QFile::remove(state.filePath(u"tolvane/PlayList.plf"_s));
        Player player({TestSupport::Media(u"long.mp3"_s)}, playerEnv);
        QTRY_COMPARE_WITH_TIMEOUT(corked(player.pid), u"no"_s, 20000);
        BusListener listener(busEnv.value(u"DBUS_SESSION_BUS_ADDRESS"_s));
        QTest::qWait(300);

        pressKeys(player.pid, {u"c"_s});
        QTRY_COMPARE_WITH_TIMEOUT(listener.statuses(), QStringList{u"Paused"_s}, 5000);
        // A seek from the bus, then the seek keys while paused: each is a
        // jump, also the one of a second back to the start of the track.
        playerctl(u"position 1"_s);
        QTRY_COMPARE_WITH_TIMEOUT(listener.seeks, QList<qlonglong>{1000000}, 5000);
        pressKeys(player.pid, {u"Left"_s});
        QTRY_COMPARE_WITH_TIMEOUT(listener.seeks, (QList<qlonglong>{1000000, 0}), 5000);
        pressKeys(player.pid, {u"Right"_s});
        QTRY_COMPARE_WITH_TIMEOUT(listener.seeks, (QList<qlonglong>{1000000, 0, 5000000}), 5000);
        QCOMPARE(playerctl(u"position"_s).toDouble(), 5.0);
        QCOMPARE(listener.statuses(), QStringList{u"Paused"_s});

        pressKeys(player.pid, {u"c"_s});
        QTRY_COMPARE_WITH_TIMEOUT(listener.statuses(), (QStringList{u"Paused"_s, u"Playing"_s}),
                                  5000);
        QTRY_COMPARE_WITH_TIMEOUT(corked(player.pid), u"no"_s, 5000);
        // A rate of 0 is a pause, as the interface asks; other rates change
        // nothing.
        const auto setRate = [&](double rate) {
            listener.bus.call(listener.call(u"Set"_s,
                                            {u"org.mpris.MediaPlayer2.Player"_s, u"Rate"_s,
                                             QVariant::fromValue(QDBusVariant(rate))},
                                            u"org.freedesktop.DBus.Properties"_s));
        };
        setRate(2.0);
        QTest::qWait(500);
        QCOMPARE(playerctl(u"status"_s), u"Playing"_s);
        setRate(0.0);
        QTRY_COMPARE_WITH_TIMEOUT(corked(player.pid), u"yes"_s, 5000);
        QCOMPARE(playerctl(u"status"_s), u"Paused"_s);
        QTRY_COMPARE_WITH_TIMEOUT(listener.statuses().last(), u"Paused"_s, 5000);
    }

    void aFloodOfNextIsMergedAndTheBusStaysResponsive() {
        QFile::remove(state.filePath(u"tolvane/PlayList.plf"_s));
        QTemporaryDir folder;
        QByteArrayList files;
        for (const QString& name : {u"a.mp3"_s, u"b.mp3"_s, u"c.mp3"_s}) {
            QVERIFY(QFile::copy(TestSupport::MediaDir() + u"/long.mp3"_s, folder.filePath(name)));
            files.append(QFile::encodeName(folder.filePath(name)));
        }
        Player player(files, playerEnv);
        QTRY_COMPARE_WITH_TIMEOUT(taskbarText(player.pid), u"a.mp3"_s, 20000);
        playerctl(u"loop Track"_s); // no track ends by itself meanwhile
        BusListener listener(busEnv.value(u"DBUS_SESSION_BUS_ADDRESS"_s));
        for (int i = 0; i < 200; ++i)
            QVERIFY(listener.bus.send(listener.call(u"Next"_s)));
        // The bus is answered all the while the player works through them.
        const QDBusMessage get =
            listener.call(u"Get"_s, {u"org.mpris.MediaPlayer2.Player"_s, u"PlaybackStatus"_s},
                          u"org.freedesktop.DBus.Properties"_s);
        qint64 slowest = 0;
        for (QDeadlineTimer working(6000); !working.hasExpired(); QTest::qWait(100)) {
            QElapsedTimer answer;
            answer.start();
            QCOMPARE(listener.bus.call(get, QDBus::Block, 30000).type(),
                     QDBusMessage::ReplyMessage);
            slowest = std::max(slowest, answer.elapsed());
        }
        qInfo("slowest answer: %lld ms", slowest);
        QVERIFY2(slowest < 1000, qPrintable(QString::number(slowest)));
        // Each Next counts: 200 steps from the first of three entries.
        QTRY_COMPARE_WITH_TIMEOUT(taskbarText(player.pid), u"c.mp3"_s, 20000);
        QTest::qWait(1000);
        QCOMPARE(taskbarText(player.pid), u"c.mp3"_s);
        QCOMPARE(corked(player.pid), u"no"_s);
        QCOMPARE(playerctl(u"metadata xesam:title"_s), u"c.mp3"_s);
    }
};

QTEST_GUILESS_MAIN(DesktopTest)
#include "tst_desktop.moc"
