// The player as the desktop meets it: started with files, started a second
// time, driven by playerctl over MPRIS. The real program runs on a session
// bus of this test's own (playerctl -p tolvane would find any player on a
// shared bus) and the private sound server and display of
// tools/with-test-env; results are read from the sound server's streams and
// from the windows' texts as the X server holds them.

#include "TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <map>
#include <optional>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

QString run(const QString& program, const QStringList& arguments,
            const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    process.waitForFinished(20000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// The player started with its arguments as bytes, as a shell starts it.
class Player {
public:
    Player(const QByteArrayList& arguments, const std::map<QByteArray, QByteArray>& env) {
        std::vector<QByteArray> strings;
        for (char** e = environ; *e; ++e) {
            const QByteArray entry(*e);
            if (!env.count(entry.left(entry.indexOf('='))))
                strings.push_back(entry);
        }
        for (const auto& [name, value] : env)
            if (!value.isNull())
                strings.push_back(name + '=' + value);
        std::vector<char*> envp, argv{const_cast<char*>(TOLVANE_PROGRAM)};
        for (QByteArray& s : strings)
            envp.push_back(s.data());
        envp.push_back(nullptr);
        QByteArrayList args = arguments;
        for (QByteArray& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&pid, TOLVANE_PROGRAM, nullptr, nullptr, argv.data(), envp.data()) != 0)
            pid = -1;
    }
    ~Player() {
        if (pid > 0 && !exitCode(0)) {
            ::kill(pid, SIGTERM);
            exitCode(10000);
        }
    }
    // The exit code once the program has ended within `ms`.
    std::optional<int> exitCode(int ms) {
        for (QDeadlineTimer deadline(ms);;) {
            int status = 0;
            if (ended_ || ::waitpid(pid, &status, WNOHANG) == pid) {
                if (!ended_)
                    code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                ended_ = true;
                return code_;
            }
            if (deadline.hasExpired())
                return std::nullopt;
            QTest::qWait(50);
        }
    }
    pid_t pid = -1;

private:
    bool ended_ = false;
    int code_ = -1;
};

} // namespace

class DesktopTest : public QObject {
    Q_OBJECT

    QTemporaryDir state;
    QByteArray bus;
    QString busPid;
    QProcessEnvironment busEnv = QProcessEnvironment::systemEnvironment();

    std::map<QByteArray, QByteArray> playerEnv() const {
        return {{"XDG_STATE_HOME", QFile::encodeName(state.path())},
                {"DBUS_SESSION_BUS_ADDRESS", bus}};
    }

    QString playerctl(const QStringList& arguments) {
        return run(QStringLiteral("playerctl"),
                   QStringList{QStringLiteral("-p"), QStringLiteral("tolvane")} + arguments,
                   busEnv);
    }

    // The player's stream on the sound server: "no" while it sounds, "yes"
    // while it is held (paused or stopped), empty when it has none.
    static QString corked(pid_t pid) {
        const QString sinks =
            run(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("sink-inputs")});
        for (const QString& block : sinks.split(QStringLiteral("Sink Input #")))
            if (block.contains(QStringLiteral("application.process.id = \"%1\"").arg(pid)))
                return QRegularExpression(QStringLiteral("Corked: (\\w+)"))
                    .match(block)
                    .captured(1);
        return QString();
    }

    // The player's top-level window whose title begins with `title`: its
    // title and icon name (the text a task bar shows).
    static QStringList window(pid_t pid, const QString& title) {
        static const QRegularExpression line(QStringLiteral("^\\s+(0x[0-9a-f]+) \"(.*)\": \\("),
                                             QRegularExpression::MultilineOption);
        const QString tree =
            run(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-children")});
        for (auto it = line.globalMatch(tree); it.hasNext();) {
            const auto match = it.next();
            const QString id = match.captured(1);
            if (!match.captured(2).startsWith(title) ||
                !run(QStringLiteral("xprop"),
                     {QStringLiteral("-id"), id, QStringLiteral("_NET_WM_PID")})
                     .endsWith(QStringLiteral(" = %1").arg(pid)))
                continue;
            const QString icon =
                run(QStringLiteral("xprop"),
                    {QStringLiteral("-id"), id, QStringLiteral("_NET_WM_ICON_NAME")});
            return {match.captured(2), icon.section(QLatin1Char('"'), 1, -2)};
        }
        return {};
    }

    static QString playlistTitle(pid_t pid) {
        return window(pid, QStringLiteral("Play List")).value(0);
    }

    // A second start in the same session: it must hand over and end.
    void startAgain(const QByteArrayList& arguments) {
        Player second(arguments, playerEnv());
        QCOMPARE(second.exitCode(20000), std::optional<int>(0));
    }

private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("DISPLAY") || TestSupport::MediaDir().isEmpty() ||
            run(QStringLiteral("pactl"), {QStringLiteral("info")}).isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("playerctl")).isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
            QSKIP("needs tools/with-test-env, playerctl and dbus-daemon");
        const QStringList info =
            run(QStringLiteral("dbus-daemon"),
                {QStringLiteral("--session"), QStringLiteral("--fork"),
                 QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1"),
                 QStringLiteral("--print-pid=1")})
                .split(QLatin1Char('\n'));
        QCOMPARE(info.size(), 2);
        bus = info[0].toUtf8();
        busPid = info[1];
        busEnv.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromUtf8(bus));
    }
    void cleanupTestCase() {
        if (!busPid.isEmpty())
            ::kill(pid_t(busPid.toInt()), SIGTERM);
    }

    void optionsAnswerWithoutADisplay() {
        QProcess process;
        QProcessEnvironment env = busEnv;
        env.remove(QStringLiteral("DISPLAY"));
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(TOLVANE_PROGRAM), {QStringLiteral("--version")});
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(process.readAllStandardOutput(), QByteArray("tolvane 1.0\n"));
        process.start(QStringLiteral(TOLVANE_PROGRAM), {QStringLiteral("--help")});
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 0);
        QVERIFY(process.readAllStandardOutput().startsWith("Usage: tolvane "));
        process.start(QStringLiteral(TOLVANE_PROGRAM),
                      {QStringLiteral("--shuffle"), QStringLiteral("a.mp3")});
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 2);
        QVERIFY(process.readAllStandardOutput().isEmpty());
        QVERIFY(process.readAllStandardError().contains("\nUsage: tolvane "));
    }

    void filesOnTheCommandLinePlayAndASecondStartHandsItsFilesOver() {
        // A name in Latin-1 bytes, not valid UTF-8, must reach the device.
        const QByteArray odd = QFile::encodeName(TestSupport::MediaDir()) + "/\xe9t\xe9.mp3";
        QTemporaryDir folder;
        QVERIFY(QFile::copy(QString::fromUtf8(TestSupport::Media(QStringLiteral("tone.wav"))),
                            folder.filePath(QStringLiteral("b.wav"))));
        TestSupport::WriteFile(QFile::encodeName(folder.filePath(QStringLiteral("notes.txt"))),
                               "x");
        const QByteArray list = QFile::encodeName(state.filePath(QStringLiteral("two.plf")));
        TestSupport::WriteFile(list, TestSupport::Media(QStringLiteral("tone.mp3")) + "\r\n" +
                                         TestSupport::Media(QStringLiteral("tone.wma")) + "\r\n");

        Player player({odd}, playerEnv());
        QTRY_COMPARE_WITH_TIMEOUT(corked(player.pid), QStringLiteral("no"), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(playlistTitle(player.pid), QStringLiteral("Play List: 1 items"),
                                  10000);
        const QByteArray oddUrl = "file://" + odd.toPercentEncoding("/");
        QCOMPARE(playerctl({QStringLiteral("metadata"), QStringLiteral("xesam:url")}),
                 QString::fromLatin1(oddUrl));

        // A folder: its media files only; then the first of them plays.
        startAgain({QFile::encodeName(folder.path())});
        QTRY_COMPARE_WITH_TIMEOUT(playlistTitle(player.pid), QStringLiteral("Play List: 2 items"),
                                  10000);
        QTRY_COMPARE_WITH_TIMEOUT(window(player.pid, QStringLiteral("Tolvane")).value(1),
                                  QStringLiteral("b.wav"), 10000);
        QCOMPARE(corked(player.pid), QStringLiteral("no"));

        // No files: the running copy is only raised. A playlist file, given
        // as a URL: its entries, as "Add to List" adds them.
        startAgain({});
        startAgain({"file://" + list.toPercentEncoding("/")});
        QTRY_COMPARE_WITH_TIMEOUT(playlistTitle(player.pid), QStringLiteral("Play List: 4 items"),
                                  10000);
        QTRY_COMPARE_WITH_TIMEOUT(
            playerctl({QStringLiteral("metadata"), QStringLiteral("xesam:title")}),
            QStringLiteral("tone.mp3"), 10000);

        // The running copy alone writes the automatic playlist, at its end.
        ::kill(player.pid, SIGTERM);
        QCOMPARE(player.exitCode(10000), std::optional<int>(0));
        QFile saved(state.filePath(QStringLiteral("tolvane/PlayList.plf")));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll().count("\r\n"), 4);
    }

    void withoutABusASecondStartHandsOverThroughTheSocket() {
        std::map<QByteArray, QByteArray> env = playerEnv();
        env["DBUS_SESSION_BUS_ADDRESS"] = QByteArray(); // unset
        QFile::remove(state.filePath(QStringLiteral("tolvane/PlayList.plf")));
        Player player({TestSupport::Media(QStringLiteral("tone.mp3"))}, env);
        QTRY_COMPARE_WITH_TIMEOUT(playlistTitle(player.pid), QStringLiteral("Play List: 1 items"),
                                  20000);
        Player second({TestSupport::Media(QStringLiteral("tone.wav"))}, env);
        QCOMPARE(second.exitCode(20000), std::optional<int>(0));
        QTRY_COMPARE_WITH_TIMEOUT(playlistTitle(player.pid), QStringLiteral("Play List: 2 items"),
                                  10000);
        QTRY_COMPARE_WITH_TIMEOUT(window(player.pid, QStringLiteral("Tolvane")).value(1),
                                  QStringLiteral("tone.wav"), 10000);
    }

    void copiesKeepingTheirOwnPlaylistsRunSideBySide() {
        // Another state folder is another automatic playlist: no hand-over,
        // and the second copy takes an instance name on the bus.
        QTemporaryDir otherState;
        std::map<QByteArray, QByteArray> otherEnv = playerEnv();
        otherEnv["XDG_STATE_HOME"] = QFile::encodeName(otherState.path());
        Player first({}, playerEnv());
        QTRY_VERIFY_WITH_TIMEOUT(!playlistTitle(first.pid).isEmpty(), 20000);
        Player second({}, otherEnv);
        QTRY_VERIFY_WITH_TIMEOUT(!playlistTitle(second.pid).isEmpty(), 20000);
        QCOMPARE(run(QStringLiteral("playerctl"), {QStringLiteral("-l")}, busEnv)
                     .split(QLatin1Char('\n'))
                     .contains(QStringLiteral("tolvane.instance%1").arg(second.pid)),
                 true);

        // Neither a bus nor a runtime folder: every copy starts as it would
        // alone.
        std::map<QByteArray, QByteArray> bare = otherEnv;
        bare["DBUS_SESSION_BUS_ADDRESS"] = bare["XDG_RUNTIME_DIR"] = QByteArray();
        Player third({}, bare);
        QTRY_VERIFY_WITH_TIMEOUT(!playlistTitle(third.pid).isEmpty(), 20000);
        QCOMPARE(third.exitCode(0), std::nullopt);
    }

    void playerctlDrivesThePlayerAsItsKeysDo() {
        QFile::remove(state.filePath(QStringLiteral("tolvane/PlayList.plf")));
        const QString volumeBefore =
            run(QStringLiteral("pactl"),
                {QStringLiteral("get-sink-volume"), QStringLiteral("@DEFAULT_SINK@")});
        Player player({TestSupport::Media(QStringLiteral("tone.mp3")),
                       TestSupport::Media(QStringLiteral("tone.wav"))},
                      playerEnv());
        QTRY_COMPARE_WITH_TIMEOUT(corked(player.pid), QStringLiteral("no"), 20000);
        QProcess monitor;
        monitor.setProcessEnvironment(busEnv);
        monitor.start(QStringLiteral("dbus-monitor"),
                      {QStringLiteral("--address"), QString::fromUtf8(bus),
                       QStringLiteral("type='signal',path='/org/mpris/MediaPlayer2'")});
        QTest::qWait(500);

        playerctl({QStringLiteral("play-pause")});
        QTRY_COMPARE_WITH_TIMEOUT(corked(player.pid), QStringLiteral("yes"), 10000);
        QCOMPARE(playerctl({QStringLiteral("status")}), QStringLiteral("Paused"));
        playerctl({QStringLiteral("play-pause")});
        QTRY_COMPARE_WITH_TIMEOUT(corked(player.pid), QStringLiteral("no"), 10000);

        playerctl({QStringLiteral("next")});
        QTRY_COMPARE_WITH_TIMEOUT(window(player.pid, QStringLiteral("Tolvane")).value(1),
                                  QStringLiteral("tone.wav"), 10000);
        playerctl({QStringLiteral("previous")});
        QTRY_COMPARE_WITH_TIMEOUT(window(player.pid, QStringLiteral("Tolvane")).value(1),
                                  QStringLiteral("tone.mp3"), 10000);
        QCOMPARE(playerctl({QStringLiteral("metadata"), QStringLiteral("mpris:length")}),
                 QStringLiteral("3030000"));

        // Repeat: the track near its end plays again; continuous: the next.
        playerctl({QStringLiteral("loop"), QStringLiteral("Track")});
        QCOMPARE(playerctl({QStringLiteral("loop")}), QStringLiteral("Track"));
        playerctl({QStringLiteral("position"), QStringLiteral("2.5")});
        QTRY_VERIFY_WITH_TIMEOUT(playerctl({QStringLiteral("position")}).toDouble() >= 2.4, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(playerctl({QStringLiteral("position")}).toDouble() < 2.0, 10000);
        QCOMPARE(playerctl({QStringLiteral("metadata"), QStringLiteral("xesam:title")}),
                 QStringLiteral("tone.mp3"));
        playerctl({QStringLiteral("loop"), QStringLiteral("None")});
        playerctl({QStringLiteral("position"), QStringLiteral("2.5")});
        QTRY_VERIFY_WITH_TIMEOUT(playerctl({QStringLiteral("position")}).toDouble() >= 2.4, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(window(player.pid, QStringLiteral("Tolvane")).value(1),
                                  QStringLiteral("tone.wav"), 10000);
        playerctl({QStringLiteral("shuffle"), QStringLiteral("On")});
        QCOMPARE(playerctl({QStringLiteral("shuffle")}), QStringLiteral("On"));
        QCOMPARE(playerctl({QStringLiteral("loop")}), QStringLiteral("None"));

        playerctl({QStringLiteral("volume"), QStringLiteral("0.25")});
        QTRY_VERIFY_WITH_TIMEOUT(run(QStringLiteral("pactl"), {QStringLiteral("get-sink-volume"),
                                                               QStringLiteral("@DEFAULT_SINK@")})
                                     .contains(QStringLiteral("/  25% /")),
                                 10000);
        QVERIFY(qAbs(playerctl({QStringLiteral("volume")}).toDouble() - 64.0 / 255) < 1e-5);

        playerctl({QStringLiteral("stop")});
        QTRY_COMPARE_WITH_TIMEOUT(window(player.pid, QStringLiteral("Tolvane")).value(1),
                                  QStringLiteral("Tolvane"), 10000);
        QCOMPARE(playerctl({QStringLiteral("status")}), QStringLiteral("Stopped"));

        QTest::qWait(500);
        monitor.terminate();
        monitor.waitForFinished(5000);
        const QByteArray signals_ = monitor.readAllStandardOutput();
        QVERIFY(signals_.contains("member=Seeked"));
        QVERIFY(signals_.contains(
            "string \"PlaybackStatus\"\n         variant             string \"Paused\""));
        QVERIFY(signals_.contains(
            "string \"LoopStatus\"\n         variant             string \"Track\""));
        run(QStringLiteral("pactl"),
            {QStringLiteral("set-sink-volume"), QStringLiteral("@DEFAULT_SINK@"),
             volumeBefore.section(QLatin1Char(':'), 2).section(QLatin1Char('/'), 0, 0).trimmed()});
    }
};

QTEST_GUILESS_MAIN(DesktopTest)
#include "tst_desktop.moc"
