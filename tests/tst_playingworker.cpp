#include "player/media/MediaPlayer.h"

#include "TestSupport.h"
#include "player/media/ChildStart.h"

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
#include <arpa/inet.h>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int PatienceMs = 8000;

using Child = TestSupport::ChildProcess;

// This process's playing children, zombies included, the oldest first (the
// sound server and the listener the test starts are none of them).
QList<Child> Children() {
    return TestSupport::ChildrenNamed("tolvane-tester");
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

// The child kept after a close is let go once no file has come for this
// long.
constexpr int ClosedChildWaitMs = 5000;

bool Ended(pid_t played) {
    const QList<Child> children = Children();
    return std::none_of(children.begin(), children.end(),
                        [played](const Child& child) { return child.pid == played; });
}

// A field of this process's stream on the sound server; empty when there is
// no stream.
QString StreamField(const QString& field) {
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("sink-inputs")});
    pactl.waitForFinished(10000);
    const QString listing = QString::fromUtf8(pactl.readAllStandardOutput());
    for (const QString& block : listing.split(QStringLiteral("Sink Input #")))
        if (block.contains(QStringLiteral("application.process.id = \"%1\"").arg(getpid())))
            return QRegularExpression(field + QStringLiteral(": ([^\n]+)")).match(block).captured(1);
    return {};
}

// The sample format of the first stream on the sound server, as its short
// listing gives it ("float32le 2ch 44100Hz").
QString StreamFormat() {
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"),
                {QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sink-inputs")});
    pactl.waitForFinished(10000);
    const QByteArray line = pactl.readAllStandardOutput().split('\n').first();
    return QString::fromUtf8(line.split('\t').last());
}

// "no" while it sounds, "yes" while held, empty when there is none.
QString Corked() {
    return StreamField(QStringLiteral("Corked"));
}

// A sound server of the test's own, so that each stream on it is the
// player's: another test's streams coming and going would blur what a track
// change does. This process and the children it starts play to it.
class SoundServer {
public:
    SoundServer() {
        if (QStandardPaths::findExecutable(QStringLiteral("pactl")).isEmpty() || !folder_.isValid())
            return;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // The session bus has a server's name already.
        env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        server_.setProcessEnvironment(env);
        qputenv("PULSE_SERVER", "unix:" + QFile::encodeName(socket()));
        Start();
    }
    ~SoundServer() { End(); }
    // Another server in its place, as after a restart.
    void Restart() {
        End();
        running = false;
        Start();
    }
    pid_t pid() const { return pid_t(server_.processId()); }
    bool running = false;

private:
    QString socket() const { return folder_.filePath(QStringLiteral("pulse.sock")); }
    void Start() {
        server_.start(
            QStringLiteral("pulseaudio"),
            {QStringLiteral("-n"), QStringLiteral("--daemonize=no"),
             QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--use-pid-file=no"),
             QStringLiteral("-L"),
             QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=") + socket(),
             QStringLiteral("-L"), QStringLiteral("module-null-sink sink_name=own")});
        for (QDeadlineTimer deadline(10000); !running && !deadline.hasExpired(); QTest::qWait(50))
            running = QProcess::execute(QStringLiteral("pactl"), {QStringLiteral("info")}) == 0;
    }
    void End() {
        ::kill(pid(), SIGCONT);
        server_.terminate();
        server_.waitForFinished(5000);
    }
    QTemporaryDir folder_;
    QProcess server_;
};

// The numbers of the streams on the sound server, which numbers every
// stream it makes one above the last, ended ones included.
QList<int> Streams() {
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"),
                {QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sink-inputs")});
    pactl.waitForFinished(10000);
    QList<int> streams;
    for (const QByteArray& line : pactl.readAllStandardOutput().split('\n'))
        if (!line.isEmpty())
            streams.append(line.split('\t').first().toInt());
    return streams;
}

// The loudest sample the sound server plays in the next ms, out of 32767;
// -1 when nothing was heard at all.
int Peak(int ms) {
    QProcess parec;
    parec.start(QStringLiteral("parec"),
                {QStringLiteral("--device=own.monitor"), QStringLiteral("--raw"),
                 QStringLiteral("--format=s16le"), QStringLiteral("--channels=1"),
                 QStringLiteral("--rate=8000"), QStringLiteral("--latency-msec=20")});
    // The recording counts from the first sound the server passes on.
    parec.waitForStarted(5000);
    parec.waitForReadyRead(5000);
    QTest::qWait(ms);
    parec.terminate();
    parec.waitForFinished(5000);
    const QByteArray heard = parec.readAllStandardOutput();
    int peak = heard.isEmpty() ? -1 : 0;
    for (qsizetype at = 0; at + 1 < heard.size(); at += 2) {
        qint16 sample = 0;
        std::memcpy(&sample, heard.constData() + at, 2);
        peak = std::max(peak, std::abs(int(sample)));
    }
    return peak;
}

void Open(TMediaPlayer& player, const QString& name) {
    player.FileName = TestSupport::Media(name);
    player.OpenMedia();
}

// An X display that takes connections and never answers them, as a server
// that hangs does, or one the desktop starts only when a program first
// asks for it. Its number is one no one else listens on.
struct StuckDisplay {
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    QString name;

    StuckDisplay() {
        for (int display = 100; display < 200 && name.isEmpty(); ++display) {
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(quint16(6000 + display));
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                ::listen(listener, 16) == 0)
                name = QStringLiteral("127.0.0.1:%1").arg(display);
        }
    }
    ~StuckDisplay() { ::close(listener); }
    StuckDisplay(const StuckDisplay&) = delete;
    StuckDisplay& operator=(const StuckDisplay&) = delete;
};

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

    // One stream on the sound server carries every track: a change of file,
    // of format or of pipeline (MIDI and video start afresh) opens none, and
    // none is opened and closed on the way.
    void oneStreamCarriesEveryTrack() {
        if (!soundServer.running)
            QSKIP("pulseaudio and pactl (pulseaudio-utils) are needed");
        // A track of another rate and channel count, made here: the stream
        // takes its rate.
        QTemporaryDir folder;
        const QString mono = folder.filePath(QStringLiteral("mono.wav"));
        QCOMPARE(QProcess::execute(QStringLiteral("gst-launch-1.0"),
                                   {QStringLiteral("-q"), QStringLiteral("audiotestsrc"),
                                    QStringLiteral("num-buffers=100"), QStringLiteral("!"),
                                    QStringLiteral("audio/x-raw,rate=22050,channels=1"),
                                    QStringLiteral("!"), QStringLiteral("wavenc"),
                                    QStringLiteral("!"), QStringLiteral("filesink"),
                                    QStringLiteral("location=") + mono}),
                 0);
        TMediaPlayer player;
        QList<int> first;
        bool wmaPlayed = false;
        for (const char* name : {"tone.wav", "tone.mp3", "tone.wma", "tune.mid", "clip.avi",
                                 "mono.wav", "tone.wav"}) {
            const bool made = QByteArray(name) == "mono.wav";
            player.FileName = made ? QFile::encodeName(mono) : TestSupport::Media(QString::fromLatin1(name));
            player.OpenMedia();
            player.PlayMedia();
            QTRY_VERIFY_WITH_TIMEOUT(player.MediaPosition() >= 300, PatienceMs);
            if (first.isEmpty())
                first = Streams();
            QCOMPARE(first.size(), 1);
            QVERIFY2(Streams() == first, name);
            QCOMPARE(Corked(), QStringLiteral("no"));
            QVERIFY2(StreamFormat()
                         .endsWith(made ? QStringLiteral("22050Hz") : QStringLiteral("44100Hz")),
                     name);
            // FFmpeg loads only for what nothing else decodes (an MP3 took
            // FFmpeg's decoder, first by name at the same rank).
            wmaPlayed = wmaPlayed || QByteArray(name).endsWith(".wma");
            QVERIFY2(Maps("libavcodec", QString::number(PlayingChild())) == wmaPlayed, name);
        }
    }

    // Every track is heard from its start: a MIDI file, synthesised in
    // small pieces, after another file in the same child (through the
    // synthesiser the last MIDI file left) too. The sound server's stream
    // once took a second of sound ahead, and now and then a MIDI track went
    // by unheard.
    void everyTrackIsHeardFromItsStart() {
        if (!soundServer.running || QStandardPaths::findExecutable(QStringLiteral("parec")).isEmpty())
            QSKIP("pulseaudio and parec (pulseaudio-utils) are needed");
        TMediaPlayer player;
        for (const char* name :
             {"tune.mid", "tone.wav", "tune.rmi", "tune.mid", "tone.mp3", "tune.rmi"}) {
            Open(player, QString::fromLatin1(name));
            player.PlayMedia();
            QTRY_VERIFY_WITH_TIMEOUT(player.MediaPosition() >= 100, PatienceMs);
            // The piano's notes peak near -18 dBFS, the tones near -2.
            const int peak = Peak(1000);
            QVERIFY2(peak > 2000, qPrintable(QStringLiteral("%1: %2").arg(name).arg(peak)));
        }
    }

    // What comes while a track starts (its title, read from its tags; its
    // window exposed) leaves the position reported as often as before, so
    // that it runs from the first moment the track sounds, not a second
    // later.
    void thePositionRunsFromTheStartWhateverComesMeanwhile() {
        TMediaPlayer player;
        for (const char* name : {"tone.wav", "clip.avi"}) {
            Open(player, QString::fromLatin1(name));
            player.PlayMedia();
            player.SetStreamTitle(QStringLiteral("Tone"), QStringLiteral("Tester"));
            player.RedrawVideo();
            QTest::qWait(600);
            const qint64 position = player.MediaPosition();
            QVERIFY2(position >= 100,
                     qPrintable(QStringLiteral("%1: %2 ms").arg(name).arg(position)));
            // Nor does a title while it runs stop it.
            player.SetStreamTitle(QStringLiteral("Tone again"), QStringLiteral("Tester"));
            QTest::qWait(400);
            QVERIFY2(player.MediaPosition() >= position + 200,
                     qPrintable(QStringLiteral("%1: %2 ms, then %3 ms")
                                    .arg(name)
                                    .arg(position)
                                    .arg(player.MediaPosition())));
            player.CloseMedia();
        }
    }

    // Only pictures need the display: sound plays while the X server keeps
    // the child's connection waiting. Run again with such a display.
    void soundWaitsForNoDisplay() {
        if (!qEnvironmentVariableIsSet("TOLVANE_STUCK_DISPLAY")) {
            const StuckDisplay display;
            QVERIFY(!display.name.isEmpty());
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("TOLVANE_STUCK_DISPLAY"), QStringLiteral("1"));
            env.insert(QStringLiteral("DISPLAY"), display.name);
            QProcess again;
            again.setProcessEnvironment(env);
            again.setProcessChannelMode(QProcess::MergedChannels);
            again.start(QCoreApplication::applicationFilePath(),
                        {QString::fromLatin1(QTest::currentTestFunction())});
            QVERIFY(again.waitForFinished(90000));
            QVERIFY2(again.exitStatus() == QProcess::NormalExit && again.exitCode() == 0,
                     again.readAll().constData());
            return;
        }
        for (const char* name : {"tone.wav", "tone.wma"}) {
            TMediaPlayer player;
            Open(player, QString::fromLatin1(name));
            player.PlayMedia();
            QTRY_VERIFY2_WITH_TIMEOUT(player.MediaPosition() >= 300, name, PatienceMs);
        }
    }

    // The child the program's start hands over plays the first file, the
    // only child; a variable naming no child of ours touches nothing. The
    // child has the file open before the player asks (its stream waits on
    // the server, held), however the name is spelled; asked for another
    // file, it plays that one.
    void theChildMadeAtTheStartPlaysTheFirstFile() {
        const int stranger = ::dup(STDERR_FILENO);
        qputenv(StartedChildVariable, "1 " + QByteArray::number(stranger));
        TMediaPlayer::TakeStartedChild(true);
        QVERIFY2(::fcntl(stranger, F_GETFD) == 0, "a descriptor not the player's was touched");
        ::close(stranger);
        const bool soundServer = !QStandardPaths::findExecutable(QStringLiteral("pactl")).isEmpty();
        for (const char* given : {"tone.wma", "long.mp3"}) {
            int socket = -1;
            const QByteArray first = QFile::encodeName(TestSupport::MediaDir()) + "/./" + given;
            const pid_t started = StartPlayingChild(true, socket, first.toStdString());
            QVERIFY(started > 0 && ::fcntl(socket, F_SETFD, 0) == 0);
            if (soundServer)
                QTRY_COMPARE_WITH_TIMEOUT(Corked(), QStringLiteral("yes"), PatienceMs);
            qputenv(StartedChildVariable,
                    QByteArray::fromStdString(DescribeStartedChild(started, socket)));
            TMediaPlayer::TakeStartedChild(true);
            QVERIFY(qgetenv(StartedChildVariable).isEmpty());
            QVERIFY(::fcntl(socket, F_GETFD) & FD_CLOEXEC);
            TMediaPlayer player;
            Open(player, QStringLiteral("tone.wma"));
            QCOMPARE(Children().size(), 1);
            QCOMPARE(PlayingChild(), started);
            QVERIFY2(qAbs(player.MediaLength() - 3000) <= 150, given);
            player.PlayMedia();
            QTRY_VERIFY_WITH_TIMEOUT(player.MediaPosition() >= 300, PatienceMs);
        }
    }

    void wmaPlaysInAChildThatStaysForTheNextFile() {
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

        // The track's end, as the player takes it: closed, and the next
        // file opened. The child that played it plays the next one too, and
        // none other was started on the way.
        player.CloseMedia();
        QVERIFY(!player.isOpen());
        QCOMPARE(Children().size(), 1);
        QCOMPARE(PlayingChild(), playing);
        // Its stream waits, held, for the next track.
        if (soundServer)
            QCOMPARE(Corked(), QStringLiteral("yes"));
        Open(player, QStringLiteral("tone.wav"));
        player.PlayMedia();
        QTRY_VERIFY_WITH_TIMEOUT(player.MediaPosition() >= 300, PatienceMs);
        QCOMPARE(PlayingChild(), playing);
        QCOMPARE(Children().size(), 1);

        // With no file after a close, the child and its memory go.
        player.CloseMedia();
        QTest::qWait(ClosedChildWaitMs / 2);
        QVERIFY(!Ended(playing));
        QTRY_VERIFY_WITH_TIMEOUT(Ended(playing), ClosedChildWaitMs + PatienceMs);
        QVERIFY(Children().isEmpty());
        if (soundServer)
            QTRY_COMPARE_WITH_TIMEOUT(Corked(), QString(), PatienceMs);
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
        QTRY_VERIFY_WITH_TIMEOUT(Ended(before), ClosedChildWaitMs + PatienceMs);
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
        QTRY_VERIFY_WITH_TIMEOUT(Ended(again), ClosedChildWaitMs + PatienceMs);
    }

    // The child keeps its connection to the sound server between tracks:
    // after the server restarted, the next track connects anew and sounds.
    void theNextTrackSoundsAfterTheSoundServerRestarted() {
        if (!soundServer.running)
            QSKIP("pulseaudio and pactl (pulseaudio-utils) are needed");
        TMediaPlayer player;
        Open(player, QStringLiteral("tone.wav"));
        player.PlayMedia();
        QTRY_VERIFY_WITH_TIMEOUT(player.MediaPosition() >= 300, PatienceMs);
        const pid_t playing = PlayingChild();
        player.CloseMedia();
        soundServer.Restart();
        QVERIFY(soundServer.running);
        Open(player, QStringLiteral("tone.mp3"));
        player.PlayMedia();
        QTRY_VERIFY_WITH_TIMEOUT(player.MediaPosition() >= 300, PatienceMs);
        QTRY_COMPARE_WITH_TIMEOUT(Corked(), QStringLiteral("no"), PatienceMs);
        QCOMPARE(PlayingChild(), playing);
    }

    // A sound server that stops taking sound (it hangs) leaves the child
    // answering and its pipeline playing, while the position stands still
    // once what the server was given has played: the track ends as one that
    // broke off. (A short track would end before, on what was given.)
    void aTrackThatStandsStillWhilePlayingEndsAsBrokenOff() {
        if (!soundServer.running)
            QSKIP("pulseaudio and pactl (pulseaudio-utils) are needed");
        TMediaPlayer player;
        Open(player, QStringLiteral("long.mp3"));
        player.PlayMedia();
        QTRY_VERIFY_WITH_TIMEOUT(player.MediaPosition() >= 300, PatienceMs);
        const pid_t playing = PlayingChild();
        ::kill(soundServer.pid(), SIGSTOP);
        const auto resume = qScopeGuard([&] { ::kill(soundServer.pid(), SIGCONT); });
        QTRY_COMPARE_WITH_TIMEOUT(player.MediaMode(), TMPModes::mpStopped, 20000);
        QCOMPARE(player.MediaPosition(), player.MediaLength());
        QVERIFY(!player.LastError().isEmpty());
        for (const Child& child : Children())
            QVERIFY(child.pid != playing);
    }
};

QTEST_GUILESS_MAIN(PlayingWorkerTest)
#include "tst_playingworker.moc"
