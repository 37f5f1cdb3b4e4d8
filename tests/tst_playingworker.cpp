#include "player/media/MediaPlayer.h"

#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <unistd.h>

namespace {

constexpr int PatienceMs = 8000;

struct Child {
    pid_t pid;
    char state;
    qint64 started;
};

// This process's playing children, zombies included, the oldest first (the
// sound server and the listener the test starts are none of them).
QList<Child> Children() {
    QList<Child> children;
    const QByteArray self = QByteArray::number(getpid());
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!entry[0].isDigit() || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        // pid (comm) state ppid ...: the command may hold blanks and brackets.
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.value(1) == self && line.contains("(tolvane-tester)"))
            children.append({pid_t(entry.toInt()), fields[0].at(0), fields.value(19).toLongLong()});
    }
    std::sort(children.begin(), children.end(),
              [](const Child& a, const Child& b) { return a.started < b.started; });
    return children;
}

bool Maps(const QByteArray& library, const QString& pid = QStringLiteral("self")) {
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains(library);
}

// The child that plays the open file: the first started, before any kept
// ready for the next file.
pid_t PlayingChild() {
    const QList<Child> children = Children();
    return children.isEmpty() ? 0 : children[0].pid;
}

// The child that played is gone and reaped; what is left is at most the one
// kept ready for the next file.
#define VERIFY_CHILD_ENDED(played)                                                                 \
    do {                                                                                           \
        const QList<Child> children = Children();                                                  \
        QVERIFY(children.size() <= 1);                                                             \
        for (const Child& child : children) {                                                      \
            QVERIFY(child.pid != (played));                                                        \
            QVERIFY2(child.state != 'Z', "a child left unreaped");                                 \
        }                                                                                          \
    } while (false)

// This process's stream on the sound server: "no" while it sounds, "yes"
// while held, empty when there is none.
QString Corked() {
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("sink-inputs")});
    pactl.waitForFinished(10000);
    const QString listing = QString::fromUtf8(pactl.readAllStandardOutput());
    for (const QString& block : listing.split(QStringLiteral("Sink Input #")))
        if (block.contains(QStringLiteral("application.process.id = \"%1\"").arg(getpid())))
            return QRegularExpression(QStringLiteral("Corked: (\\w+)")).match(block).captured(1);
    return {};
}

// A sound server of the test's own, so that each stream on it is the
// player's: another test's streams coming and going would blur what a track
// change does. This process and the children it starts play to it.
class SoundServer {
public:
    SoundServer() {
        if (QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("pactl")).isEmpty() || !folder_.isValid())
            return;
        Start();
    }
    ~SoundServer() { Stop(); }
    // As a desktop's server restarts: every connection to it breaks.
    void Restart() {
        Stop();
        QFile::remove(folder_.filePath(QStringLiteral("pulse.sock")));
        Start();
    }
    bool running = false;

private:
    void Stop() {
        server_.terminate();
        server_.waitForFinished(5000);
        running = false;
    }
    void Start() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder_.path());
        // The session bus has a server's name already.
        env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        server_.setProcessEnvironment(env);
        server_.setStandardOutputFile(QProcess::nullDevice());
        server_.setStandardErrorFile(QProcess::nullDevice());
        const QString socket = folder_.filePath(QStringLiteral("pulse.sock"));
        server_.start(
            QStringLiteral("pulseaudio"),
            {QStringLiteral("-n"), QStringLiteral("--daemonize=no"),
             QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--use-pid-file=no"),
             QStringLiteral("-L"),
             QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=") + socket,
             QStringLiteral("-L"), QStringLiteral("module-null-sink sink_name=own")});
        const QByteArray address = "unix:" + QFile::encodeName(socket);
        qputenv("PULSE_SERVER", address);
        for (QDeadlineTimer deadline(10000); !deadline.hasExpired(); QTest::qWait(50)) {
            QProcess info;
            info.start(QStringLiteral("pactl"), {QStringLiteral("info")});
            if (info.waitForFinished(5000) && info.exitCode() == 0) {
                running = true;
                return;
            }
        }
    }
    QTemporaryDir folder_;
    QProcess server_;
};

// The streams made and ended on the sound server, as `pactl subscribe` tells
// them ("new 4", "remove 4"), from the time it is made.
class StreamEvents {
public:
    StreamEvents() {
        pactl_.start(QStringLiteral("pactl"), {QStringLiteral("subscribe")});
        // It listens once it tells of a change made after it started.
        for (int volume = 50; !pactl_.canReadLine() && volume < 100; volume += 5) {
            QProcess::execute(QStringLiteral("pactl"),
                              {QStringLiteral("set-sink-volume"), QStringLiteral("own"),
                               QString::number(volume) + u'%'});
            pactl_.waitForReadyRead(500);
        }
        Take();
    }
    ~StreamEvents() {
        pactl_.kill();
        pactl_.waitForFinished(5000);
    }
    QStringList Take() {
        static const QRegularExpression event(
            QStringLiteral("Event '(new|remove)' on sink-input #(\\d+)"));
        QStringList events;
        pactl_.waitForReadyRead(100);
        while (pactl_.canReadLine()) {
            const auto match = event.match(QString::fromUtf8(pactl_.readLine()));
            if (match.hasMatch())
                events << match.captured(1) + u' ' + match.captured(2);
        }
        return events;
    }

private:
    QProcess pactl_;
};

void Open(TMediaPlayer& player, const QString& name) {
    player.FileName = TestSupport::Media(name);
    player.OpenMedia();
}

} // namespace

class PlayingWorkerTest : public QObject {
    Q_OBJECT
    // Made before the first child starts, which plays to it.
    SoundServer soundServer;

private slots:
    void initTestCase() {
        if (TestSupport::MediaDir().isEmpty())
            QSKIP("TOLVANE_TEST_MEDIA is not set; run under tools/with-test-env");
    }

    // The next track sounds through one new stream: none is opened and
    // closed on the way (the sink used to open one only to ask the server
    // which formats it takes, a moment before the real one).
    void eachTrackStartOpensOneStream() {
        if (!soundServer.running)
            QSKIP("pulseaudio and pactl (pulseaudio-utils) are needed");
        TMediaPlayer player;
        Open(player, QStringLiteral("tone.wav"));
        player.PlayMedia();
        QTRY_VERIFY_WITH_TIMEOUT(player.MediaPosition() >= 300, PatienceMs);
        StreamEvents events;
        for (const char* name : {"tone.mp3", "tone.wma", "tune.mid", "tone.wav"}) {
            Open(player, QString::fromLatin1(name));
            player.PlayMedia();
            QTRY_VERIFY_WITH_TIMEOUT(player.MediaPosition() >= 300, PatienceMs);
            const QStringList seen = events.Take();
            const QString told =
                QString::fromLatin1(name) + QStringLiteral(": ") + seen.join(QStringLiteral(", "));
            QVERIFY2(seen.filter(QStringLiteral("new")).size() == 1, qPrintable(told));
            for (const QString& made : seen.filter(QStringLiteral("new")))
                QVERIFY2(!seen.contains(QStringLiteral("remove") + made.mid(3)), qPrintable(told));
        }
    }

    // The child keeps its connection to the sound server from track to
    // track; when the server restarts, the next track connects anew.
    void theNextTrackPlaysAfterTheSoundServerRestarted() {
        if (!soundServer.running)
            QSKIP("pulseaudio and pactl (pulseaudio-utils) are needed");
        TMediaPlayer player;
        Open(player, QStringLiteral("tone.wav"));
        player.PlayMedia();
        QTRY_VERIFY_WITH_TIMEOUT(player.MediaPosition() >= 300, PatienceMs);
        const pid_t playing = PlayingChild();
        soundServer.Restart();
        QVERIFY(soundServer.running);
        Open(player, QStringLiteral("tone.mp3"));
        QCOMPARE(PlayingChild(), playing);
        player.PlayMedia();
        QTRY_COMPARE_WITH_TIMEOUT(Corked(), QStringLiteral("no"), PatienceMs);
        QTRY_VERIFY_WITH_TIMEOUT(player.MediaPosition() >= 300, PatienceMs);
    }

    void wmaPlaysInAChildThatEndsWithTheFile() {
        TMediaPlayer player;
        Open(player, QStringLiteral("tone.wma"));
        const pid_t playing = PlayingChild();
        QVERIFY(playing > 0);
        QVERIFY(Maps("libavcodec", QString::number(playing)));
        QVERIFY2(qAbs(player.MediaLength() - 3000) <= 150,
                 qPrintable(QString::number(player.MediaLength())));
        QCOMPARE(player.MediaMode(), TMPModes::mpStopped);

        player.PlayMedia();
        QTRY_VERIFY_WITH_TIMEOUT(player.MediaPosition() >= 300, PatienceMs);
        QCOMPARE(player.MediaMode(), TMPModes::mpPlaying);
        const bool soundServer = !QStandardPaths::findExecutable(QStringLiteral("pactl")).isEmpty();
        // The child's stream is the player's in the sound server's eyes.
        if (soundServer)
            QTRY_COMPARE_WITH_TIMEOUT(Corked(), QStringLiteral("no"), PatienceMs);
        player.PauseMedia();
        QCOMPARE(player.MediaMode(), TMPModes::mpPaused);
        QTest::qWait(100);
        const qint64 held = player.MediaPosition();
        QTest::qWait(300);
        QCOMPARE(player.MediaPosition(), held);
        if (soundServer)
            QTRY_COMPARE_WITH_TIMEOUT(Corked(), QStringLiteral("yes"), PatienceMs);
        player.PauseMedia();
        QCOMPARE(player.MediaMode(), TMPModes::mpPlaying);
        QTRY_VERIFY_WITH_TIMEOUT(player.MediaPosition() > held, PatienceMs);

        player.SeekMedia(2500);
        QCOMPARE(player.MediaPosition(), qint64(2500));
        QCOMPARE(player.MediaMode(), TMPModes::mpStopped);
        player.PlayMedia();
        QTRY_COMPARE_WITH_TIMEOUT(player.MediaMode(), TMPModes::mpStopped, PatienceMs);
        QCOMPARE(player.MediaPosition(), player.MediaLength());

        player.CloseMedia();
        QVERIFY(!player.isOpen());
        VERIFY_CHILD_ENDED(playing);
    }

    // Every format plays in a child (the one that played the file before),
    // and no decoder (no GStreamer plugin at all) is ever loaded into the
    // player's process.
    void everyFilePlaysInAChildAndNoDecoderLoadsHere() {
        TMediaPlayer player;
        pid_t before = 0;
        for (const char* name : {"clip.avi", "clip.mpg", "tone.mp3", "tune.mid", "tone.wav"}) {
            Open(player, QString::fromLatin1(name));
            const pid_t playing = PlayingChild();
            QVERIFY2(playing > 0 && (before == 0 || playing == before), name);
            player.PlayMedia();
            QTRY_VERIFY_WITH_TIMEOUT(player.MediaPosition() >= 300, PatienceMs);
            QVERIFY2(Maps("gstreamer-1.0/libgst", QString::number(playing)), name);
            before = playing;
        }
        player.CloseMedia();
        VERIFY_CHILD_ENDED(before);
        QVERIFY(!Maps("gstreamer-1.0/libgst"));
    }

    // Position and mode are the child's last report: a child that has
    // stopped answering holds up no read (it used to cost the window a
    // blocking round trip of up to 2 s each), and the track then ends.
    void aStoppedChildHoldsUpNoRead() {
        TMediaPlayer player;
        Open(player, QStringLiteral("tone.wma"));
        player.PlayMedia();
        QTRY_VERIFY_WITH_TIMEOUT(player.MediaPosition() >= 300, PatienceMs);
        const pid_t playing = PlayingChild();
        QVERIFY(playing > 0);
        ::kill(playing, SIGSTOP);
        qint64 slowest = 0;
        for (int read = 0; read < 20; ++read) {
            QElapsedTimer clock;
            clock.start();
            player.MediaPosition();
            player.MediaMode();
            slowest = std::max(slowest, clock.elapsed());
            QTest::qWait(20);
        }
        QVERIFY2(slowest < 1000, qPrintable(QString::number(slowest)));
        QTRY_COMPARE_WITH_TIMEOUT(player.MediaMode(), TMPModes::mpStopped, PatienceMs);
        QCOMPARE(player.MediaPosition(), player.MediaLength());
        VERIFY_CHILD_ENDED(playing);
    }

    void aChildThatDiesOrFallsSilentEndsTheTrack_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("killed") << int(SIGKILL);
        QTest::newRow("silent") << int(SIGSTOP);
    }
    void aChildThatDiesOrFallsSilentEndsTheTrack() {
        QFETCH(int, signal);
        TMediaPlayer player;
        Open(player, QStringLiteral("tone.wma"));
        player.PlayMedia();
        QTRY_VERIFY_WITH_TIMEOUT(player.MediaPosition() >= 300, PatienceMs);
        const pid_t playing = PlayingChild();
        QVERIFY(playing > 0);
        ::kill(playing, signal);

        // As a stream that broke off: at its end, stopped, with a reason.
        QTRY_COMPARE_WITH_TIMEOUT(player.MediaMode(), TMPModes::mpStopped, PatienceMs);
        QCOMPARE(player.MediaPosition(), player.MediaLength());
        QVERIFY(!player.LastError().isEmpty());
        VERIFY_CHILD_ENDED(playing);
        // Played again, it starts afresh in a new child.
        player.PlayMedia();
        QVERIFY(PlayingChild() != playing);
        QTRY_VERIFY_WITH_TIMEOUT(player.MediaPosition() >= 300, PatienceMs);
        QVERIFY(player.MediaPosition() < player.MediaLength());

        // The next file opens, and so does the same one again.
        Open(player, QStringLiteral("tone.wav"));
        Open(player, QStringLiteral("tone.wma"));
        player.PlayMedia();
        QTRY_VERIFY_WITH_TIMEOUT(player.MediaPosition() >= 300, PatienceMs);
        const pid_t again = PlayingChild();
        player.CloseMedia();
        VERIFY_CHILD_ENDED(again);
    }

    // A sound server that stops taking sound (it hangs) leaves the child
    // answering and its pipeline playing, while the position stands still:
    // the track ends as one that broke off.
    void aTrackThatStandsStillWhilePlayingEndsAsBrokenOff() {
        if (QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty())
            QSKIP("needs pulseaudio");
        // A server of this test's own: the one of the test world is shared.
        QTemporaryDir folder;
        const QString socket = folder.filePath(QStringLiteral("pulse.sock"));
        QProcess server;
        // Its bus name is taken by the test world's server.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        server.setProcessEnvironment(environment);
        server.start(
            QStringLiteral("pulseaudio"),
            {QStringLiteral("-n"), QStringLiteral("--daemonize=no"),
             QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--use-pid-file=no"),
             QStringLiteral("-L"),
             QStringLiteral("module-native-protocol-unix socket=%1 auth-anonymous=1").arg(socket),
             QStringLiteral("-L"), QStringLiteral("module-null-sink")});
        QVERIFY(server.waitForStarted());
        const auto stopServer = qScopeGuard([&] {
            ::kill(pid_t(server.processId()), SIGCONT);
            server.kill();
            server.waitForFinished();
        });
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(socket), PatienceMs);
        const QByteArray shared = qgetenv("PULSE_SERVER");
        qputenv("PULSE_SERVER", "unix:" + QFile::encodeName(socket));
        const auto restore = qScopeGuard([&] { qputenv("PULSE_SERVER", shared); });
        // The child kept ready knows the other server: it goes, and the
        // file gets a new one.
        for (const Child& child : Children())
            if (child.pid != pid_t(server.processId()))
                ::kill(child.pid, SIGKILL);
        const auto spareGone = [&] {
            const QList<Child> children = Children();
            return std::all_of(children.cbegin(), children.cend(), [&](const Child& child) {
                return child.pid == pid_t(server.processId()) || child.state == 'Z';
            });
        };
        QTRY_VERIFY_WITH_TIMEOUT(spareGone(), PatienceMs);

        TMediaPlayer player;
        Open(player, QStringLiteral("tone.wav"));
        player.PlayMedia();
        QTRY_VERIFY_WITH_TIMEOUT(player.MediaPosition() >= 300, PatienceMs);
        // Of the children besides the server, the oldest plays; a spare may
        // have started beside it.
        QList<Child> children = Children();
        children.removeIf([&](const Child& c) { return c.pid == pid_t(server.processId()); });
        QVERIFY(!children.isEmpty());
        const pid_t playing = children[0].pid;
        ::kill(pid_t(server.processId()), SIGSTOP);
        QTRY_COMPARE_WITH_TIMEOUT(player.MediaMode(), TMPModes::mpStopped, 20000);
        QCOMPARE(player.MediaPosition(), player.MediaLength());
        QVERIFY(!player.LastError().isEmpty());
        for (const Child& child : Children())
            QVERIFY(child.pid != playing);
    }
};

QTEST_GUILESS_MAIN(PlayingWorkerTest)
#include "tst_playingworker.moc"
