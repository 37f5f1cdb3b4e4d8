#include "player/media/MediaPlayer.h"
#include "player/media/Midi.h"

#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSize>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString NoDevice = QStringLiteral("No MCI device open");

// Every playable test file lasts 3 s; the device may be off by 5 %.
constexpr qint64 TestLength = 3000;
constexpr qint64 LengthTolerance = TestLength / 20;
constexpr qint64 SeekTolerance = 250;

// How long a test waits for something that should happen within a moment of
// real playback; generous, as the machine may be busy.
constexpr int PatienceMs = 8000;

QString Raised(const std::function<void()>& command) {
    try {
        command();
    } catch (const EMCIDeviceError& error) {
        return QString::fromUtf8(error.what());
    }
    return {};
}

QString OpenFailure(TMediaPlayer& player, const QByteArray& path) {
    player.FileName = path;
    return Raised([&] { player.OpenMedia(); });
}

} // namespace

QByteArray StateOf(const TMediaPlayer& player) {
    return QStringLiteral("position %1 of %2, mode %3, last error '%4'")
        .arg(player.MediaPosition())
        .arg(player.isOpen() ? player.MediaLength() : -1)
        .arg(int(player.MediaMode()))
        .arg(player.LastError())
        .toUtf8();
}

// Waits for playback to reach a position; tells where it stood otherwise.
#define WAIT_FOR_POSITION(player, ms)                                                              \
    QTRY_VERIFY2_WITH_TIMEOUT((player).MediaPosition() >= (ms), StateOf(player).constData(),       \
                              PatienceMs)

// Ends the test when the file does not open, with the device's reason.
#define OPEN_OR_FAIL(player, path)                                                                 \
    do {                                                                                           \
        const QString failure = OpenFailure(player, path);                                         \
        QVERIFY2(failure.isEmpty(), qPrintable(failure));                                          \
    } while (false)

class MediaPlayerTest : public QObject {
    Q_OBJECT
private:
    void needMedia() {
        if (TestSupport::MediaDir().isEmpty())
            QSKIP("TOLVANE_TEST_MEDIA is not set; run under tools/with-test-env");
    }

    void playableFiles() {
        QTest::addColumn<QString>("name");
        for (const char* name : {"tone.mp3", "tone.wav", "tone.wma", "tune.mid", "tune.rmi",
                                 "clip.avi", "clip.mpg", "clip.mpeg"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }

private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsSet("TOLVANE_NO_SOUND_SERVER"))
            return; // the child run of playsSilentlyInRealTimeWithoutSoundServer
        needMedia();
    }

    // --- each of the eight formats ---------------------------------------

    void opensStoppedAtStartWithItsLength_data() { playableFiles(); }
    void opensStoppedAtStartWithItsLength() {
        QFETCH(QString, name);
        TMediaPlayer player;
        OPEN_OR_FAIL(player, TestSupport::Media(name));
        QVERIFY(player.isOpen());
        QVERIFY2(qAbs(player.MediaLength() - TestLength) <= LengthTolerance,
                 qPrintable(QString::number(player.MediaLength())));
        QCOMPARE(player.MediaPosition(), qint64(0));
        QCOMPARE(player.MediaMode(), TMPModes::mpStopped);
    }

    void playsAndPauseHoldsThePosition_data() { playableFiles(); }
    void playsAndPauseHoldsThePosition() {
        QFETCH(QString, name);
        TMediaPlayer player;
        OPEN_OR_FAIL(player, TestSupport::Media(name));
        player.PlayMedia();
        QCOMPARE(player.MediaMode(), TMPModes::mpPlaying);
        WAIT_FOR_POSITION(player, 300);

        player.PauseMedia();
        QCOMPARE(player.MediaMode(), TMPModes::mpPaused);
        QTest::qWait(100); // let the sinks come to rest
        const qint64 held = player.MediaPosition();
        QTest::qWait(400);
        QCOMPARE(player.MediaPosition(), held);
        QVERIFY(held < player.MediaLength());

        player.PauseMedia();
        QCOMPARE(player.MediaMode(), TMPModes::mpPlaying);
        QVERIFY2(player.MediaPosition() >= held - 100, StateOf(player).constData()); // not from 0
        WAIT_FOR_POSITION(player, held + 200);
    }

    void seekStandsStoppedAtTheTarget_data() { playableFiles(); }
    void seekStandsStoppedAtTheTarget() {
        QFETCH(QString, name);
        TMediaPlayer player;
        OPEN_OR_FAIL(player, TestSupport::Media(name));
        player.PlayMedia();
        WAIT_FOR_POSITION(player, 100);

        player.SeekMedia(1500);
        QCOMPARE(player.MediaMode(), TMPModes::mpStopped);
        const qint64 landed = player.MediaPosition();
        QVERIFY2(qAbs(landed - 1500) <= SeekTolerance, qPrintable(QString::number(landed)));
        QTest::qWait(300);
        QCOMPARE(player.MediaPosition(), landed);

        player.SeekMedia(500); // backwards as well
        QVERIFY(qAbs(player.MediaPosition() - 500) <= SeekTolerance);
        player.PlayMedia();
        QVERIFY2(player.MediaPosition() >= 500 - SeekTolerance, StateOf(player).constData());
        WAIT_FOR_POSITION(player, 800);
    }

    // The controller's end test compares position and length for equality.
    void reachesItsEndStoppedAtTheLengthAndRewinds_data() { playableFiles(); }
    void reachesItsEndStoppedAtTheLengthAndRewinds() {
        QFETCH(QString, name);
        TMediaPlayer player;
        OPEN_OR_FAIL(player, TestSupport::Media(name));
        player.SeekMedia(player.MediaLength() - 800);
        player.PlayMedia();
        QTRY_COMPARE_WITH_TIMEOUT(player.MediaMode(), TMPModes::mpStopped, PatienceMs);
        QCOMPARE(player.MediaPosition(), player.MediaLength());
        QTest::qWait(200);
        QCOMPARE(player.MediaPosition(), player.MediaLength());
        QCOMPARE(player.MediaMode(), TMPModes::mpStopped);

        player.PlayMedia();
        QCOMPARE(player.MediaMode(), TMPModes::mpPlaying);
        QVERIFY(player.MediaPosition() < 1000);
        WAIT_FOR_POSITION(player, 200);

        const qint64 length = player.MediaLength();
        OPEN_OR_FAIL(player, TestSupport::Media(name));
        QCOMPARE(player.MediaLength(), length);
        QCOMPARE(player.MediaPosition(), qint64(0));
        QCOMPARE(player.MediaMode(), TMPModes::mpStopped);
    }

    // A seek in a MIDI file makes the parser play the file again from its
    // start; the synthesiser must not render all of that, and the window
    // must not wait for it. The later of two quick seeks is where it plays.
    void seekInALongMidiFileSoundsSoonAtTheLatestTarget() {
        QTemporaryDir scratch;
        const QByteArray path = QFile::encodeName(scratch.filePath(QStringLiteral("long.mid")));
        TestSupport::WriteFile(path, TestSupport::LongMidi(100));
        TMediaPlayer player;
        OPEN_OR_FAIL(player, path);
        QVERIFY(qAbs(player.MediaLength() - 6000000) <= 1000);
        player.PlayMedia();
        WAIT_FOR_POSITION(player, 100);

        player.SeekMedia(5700000);
        QCOMPARE(player.MediaPosition(), qint64(5700000));
        player.SeekMedia(5400000);
        QCOMPARE(player.MediaPosition(), qint64(5400000));
        QCOMPARE(player.MediaMode(), TMPModes::mpStopped);
        player.PlayMedia();
        WAIT_FOR_POSITION(player, 5400300);
        QVERIFY2(player.MediaPosition() < 5410000, StateOf(player).constData());
        QCOMPARE(player.MediaMode(), TMPModes::mpPlaying);
    }

    // The soundfont loads once: every MIDI file after the first plays
    // through the synthesiser the last one left, whatever came between.
    void midiFilesShareOneSynthesiser() {
        TMediaPlayer player(nullptr, TMediaPlayer::Output::None);
        for (const char* name : {"tune.mid", "tone.wav", "tune.rmi", "tune.mid", "clip.avi",
                                 "tune.mid"}) {
            OPEN_OR_FAIL(player, TestSupport::Media(QString::fromLatin1(name)));
            player.PlayMedia();
            WAIT_FOR_POSITION(player, 100);
            QCOMPARE(MidiSynthsMade(), 1);
        }
    }

    // --- the operations' own rules ---------------------------------------

    void aTestingPlayerOpensNoSoundStream() {
        if (QStandardPaths::findExecutable(QStringLiteral("pactl")).isEmpty())
            QSKIP("pactl (pulseaudio-utils) is not installed");
        // Of this process and its children, not of tests running beside it.
        const auto streams = [] {
            QProcess pactl;
            pactl.start(QStringLiteral("pactl"),
                        {QStringLiteral("list"), QStringLiteral("sink-inputs")});
            pactl.waitForFinished(5000);
            const QByteArray listing = pactl.readAllStandardOutput();
            qsizetype count = listing.count("process.id = \"" + QByteArray::number(getpid()) + '"');
            for (const auto& child : TestSupport::ChildrenNamed("tolvane-tester"))
                count += listing.count("process.id = \"" + QByteArray::number(child.pid) + '"');
            return count;
        };
        const int before = streams();
        TMediaPlayer tester(nullptr, TMediaPlayer::Output::None);
        OPEN_OR_FAIL(tester, TestSupport::Media("tone.wav"));
        tester.PlayMedia();
        WAIT_FOR_POSITION(tester, 300);
        QCOMPARE(streams(), before);
        TMediaPlayer player;
        OPEN_OR_FAIL(player, TestSupport::Media("tone.wav"));
        player.PlayMedia();
        QTRY_COMPARE_WITH_TIMEOUT(streams(), before + 1, PatienceMs);
    }

    void stopKeepsThePositionAndPauseThenDoesNothing() {
        TMediaPlayer player;
        OPEN_OR_FAIL(player, TestSupport::Media("long.mp3"));
        player.PlayMedia();
        WAIT_FOR_POSITION(player, 500);
        player.StopMedia();
        QCOMPARE(player.MediaMode(), TMPModes::mpStopped);
        QTest::qWait(100);
        const qint64 stopped = player.MediaPosition();
        QVERIFY(stopped >= 500);
        player.PauseMedia();
        QCOMPARE(player.MediaMode(), TMPModes::mpStopped);
        QTest::qWait(300);
        QCOMPARE(player.MediaPosition(), stopped);

        player.PlayMedia(); // on from where it stopped, not from the start
        QCOMPARE(player.MediaMode(), TMPModes::mpPlaying);
        QVERIFY(player.MediaPosition() >= stopped - 100);
    }

    void seekTargetsOutsideTheTrackAreClamped() {
        TMediaPlayer player;
        OPEN_OR_FAIL(player, TestSupport::Media("long.mp3"));
        const qint64 length = player.MediaLength();
        QVERIFY2(qAbs(length - 12000) <= 600, qPrintable(QString::number(length)));
        player.SeekMedia(4000);
        player.SeekMedia(-5000);
        QCOMPARE(player.MediaPosition(), qint64(0));
        QCOMPARE(player.MediaMode(), TMPModes::mpStopped);

        player.SeekMedia(length + 5000);
        QCOMPARE(player.MediaPosition(), length);
        QCOMPARE(player.MediaMode(), TMPModes::mpStopped);

        // Playing on from the end ends the track, as the controller's seek
        // key past the end expects; the play after that starts again.
        player.PlayMedia();
        QCOMPARE(player.MediaPosition(), length);
        QCOMPARE(player.MediaMode(), TMPModes::mpStopped);
        player.PlayMedia();
        QCOMPARE(player.MediaMode(), TMPModes::mpPlaying);
        QVERIFY(player.MediaPosition() < 1000);
    }

    // lamemp3enc writes no Xing header: the pipeline would only guess the
    // length from the bitrate, late and short, and end the track early.
    void mp3WithoutHeaderEndsAtItsTrueLength() {
        TMediaPlayer player;
        OPEN_OR_FAIL(player, TestSupport::Media("long.mp3"));
        const qint64 length = player.MediaLength();
        QVERIFY2(length >= 12000 && length <= 12100, qPrintable(QString::number(length)));
        player.SeekMedia(length - 1500);
        player.PlayMedia();
        WAIT_FOR_POSITION(player, length - 1000);
        QCOMPARE(player.MediaLength(), length); // the pipeline's guesses do not replace it
        QCOMPARE(player.MediaMode(), TMPModes::mpPlaying);
        QTRY_COMPARE_WITH_TIMEOUT(player.MediaMode(), TMPModes::mpStopped, PatienceMs);
        QCOMPARE(player.MediaPosition(), length);
    }

    void fileNamesAreBytesEscapedIntoTheUri_data() {
        QTest::addColumn<QByteArray>("path");
        const QByteArray dir = QFile::encodeName(TestSupport::MediaDir());
        QTest::newRow("blank, hash, percent") << dir + "/odd name #1 100%.mp3";
        QTest::newRow("Latin-1 bytes, not UTF-8") << dir + "/\xe9t\xe9.mp3";
        QTest::newRow("dot segments")
            << dir + "/../" + QFileInfo(TestSupport::MediaDir()).fileName().toUtf8() + "/tone.mp3";
    }
    void fileNamesAreBytesEscapedIntoTheUri() {
        QFETCH(QByteArray, path);
        TMediaPlayer player;
        OPEN_OR_FAIL(player, path);
        QVERIFY(qAbs(player.MediaLength() - TestLength) <= LengthTolerance);
    }

    void relativePathOpensFromTheWorkingFolder() {
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(TestSupport::MediaDir()));
        TMediaPlayer player;
        const QString failure = OpenFailure(player, "tone.wav");
        QDir::setCurrent(before);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
    }

    // --- what must fail, and fail cleanly --------------------------------

    void brokenFileFailsAndLeavesThePlayerClosed_data() {
        QTest::addColumn<QString>("name");
        for (const char* name : {"random.mp3", "empty.mp3", "empty.wav", "empty.mid", "empty.avi",
                                 "text.avi", "truncated.mp3", "truncated.wav", "truncated.mid"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void brokenFileFailsAndLeavesThePlayerClosed() {
        QFETCH(QString, name);
        TMediaPlayer player;
        OPEN_OR_FAIL(player, TestSupport::Media("tone.wav"));
        player.PlayMedia();
        player.FileName = TestSupport::Media(name);
        const QString failure = Raised([&] { player.OpenMedia(); });
        QVERIFY2(!failure.isEmpty(), "a broken file opened");
        QVERIFY2(!failure.contains(QStringLiteral("within")), qPrintable(failure));
        QVERIFY(!player.isOpen());
        QCOMPARE(player.MediaMode(), TMPModes::mpNotReady);
        QCOMPARE(Raised([&] { player.PlayMedia(); }), NoDevice);

        OPEN_OR_FAIL(player, TestSupport::Media("tone.wav")); // the device is still usable
    }

    void pathThatIsNoRegularFileFailsAtOnce_data() {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QString>("reason");
        // The FIFO would block the file source for good if it were opened.
        static QTemporaryDir scratch;
        const QByteArray fifo = QFile::encodeName(scratch.filePath(QStringLiteral("pipe.mp3")));
        if (access(fifo.constData(), F_OK) != 0)
            QVERIFY(mkfifo(fifo.constData(), 0600) == 0);
        const QByteArray dir = QFile::encodeName(TestSupport::MediaDir());
        QTest::newRow("missing") << dir + "/no such file.mp3"
                                 << "No such file";
        QTest::newRow("folder") << dir << "folder";
        QTest::newRow("folder named .mp3") << QFile::encodeName(scratch.path()) + "/"
                                           << "folder";
        QTest::newRow("FIFO") << fifo << "not a regular file";
        QTest::newRow("device") << QByteArray("/dev/null") << "not a regular file";
        QTest::newRow("empty path") << QByteArray() << "No file name";
        QTest::newRow("NUL inside") << QByteArray("/tmp/a\0b.mp3", 12) << "not valid";
    }
    void pathThatIsNoRegularFileFailsAtOnce() {
        QFETCH(QByteArray, path);
        QFETCH(QString, reason);
        TMediaPlayer player;
        player.FileName = path;
        const QString failure = Raised([&] { player.OpenMedia(); });
        QVERIFY2(failure.contains(reason), qPrintable(failure));
        QVERIFY(!player.isOpen());
    }

    void operationsWithoutOpenFileRaiseNoDeviceOpen() {
        TMediaPlayer player;
        const auto check = [&] {
            QCOMPARE(Raised([&] { player.PlayMedia(); }), NoDevice);
            QCOMPARE(Raised([&] { player.PauseMedia(); }), NoDevice);
            QCOMPARE(Raised([&] { player.StopMedia(); }), NoDevice);
            QCOMPARE(Raised([&] { player.SeekMedia(1000); }), NoDevice);
            QCOMPARE(Raised([&] { (void)player.MediaLength(); }), NoDevice);
            QCOMPARE(Raised([&] { (void)player.MediaPosition(); }), QString());
            QCOMPARE(Raised([&] { (void)player.MediaMode(); }), QString());
            QCOMPARE(Raised([&] { player.CloseMedia(); }), QString());
        };
        check(); // never opened
        OPEN_OR_FAIL(player, TestSupport::Media("tone.mp3"));
        player.PlayMedia();
        player.CloseMedia();
        QVERIFY(!player.isOpen());
        check(); // closed again
    }

    // --- players side by side, and their end -----------------------------

    void twoPlayersKeepTheirOwnFiles() {
        TMediaPlayer main, test;
        OPEN_OR_FAIL(main, TestSupport::Media("long.mp3"));
        main.PlayMedia();
        OPEN_OR_FAIL(test, TestSupport::Media("tone.wav"));
        test.FileName = TestSupport::Media("text.avi");
        QVERIFY(!Raised([&] { test.OpenMedia(); }).isEmpty());
        QCOMPARE(main.MediaMode(), TMPModes::mpPlaying);
        QVERIFY(qAbs(main.MediaLength() - 12000) <= 600);
        WAIT_FOR_POSITION(main, 300);
    }

    void destroyingAPlayingPlayerClosesIt() {
        for (const char* name : {"clip.avi", "tune.mid", "tone.mp3"}) {
            auto player = std::make_unique<TMediaPlayer>();
            OPEN_OR_FAIL(*player, TestSupport::Media(QString::fromLatin1(name)));
            player->PlayMedia();
            QTest::qWait(50);
            player.reset();
        }
    }

    void sinksSuitTheTestDesktop() {
        // The test environment runs a private PulseAudio and, unless Xvfb
        // failed to start, an X server.
        QCOMPARE(TMediaPlayer::AudioSinkName(), QByteArray("tolvanesoundsink"));
        QCOMPARE(TMediaPlayer::VideoSinkName(), qEnvironmentVariableIsEmpty("DISPLAY")
                                                    ? QByteArray("fakesink")
                                                    : QByteArray("ximagesink"));
    }

    // Without a sound server (and, here, without a sound card) files still
    // open and play, silently and at their own pace. The sink is chosen once
    // per process, so this runs in a child process of its own.
    void playsSilentlyInRealTimeWithoutSoundServer() {
        if (!qEnvironmentVariableIsSet("TOLVANE_NO_SOUND_SERVER")) {
            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("TOLVANE_NO_SOUND_SERVER"), QStringLiteral("1"));
            env.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:/nonexistent/pulse"));
            env.remove(QStringLiteral("DISPLAY"));
            child.setProcessEnvironment(env);
            child.setProcessChannelMode(QProcess::MergedChannels);
            child.start(QCoreApplication::applicationFilePath(),
                        {QStringLiteral("playsSilentlyInRealTimeWithoutSoundServer")});
            QVERIFY(child.waitForFinished(60000));
            QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
                     child.readAll().constData());
            return;
        }
        QVERIFY(TMediaPlayer::AudioSinkName() != "tolvanesoundsink");
        QCOMPARE(TMediaPlayer::VideoSinkName(), QByteArray("fakesink"));
        for (const char* name : {"tone.wav", "clip.avi"}) {
            TMediaPlayer player;
            OPEN_OR_FAIL(player, TestSupport::Media(QString::fromLatin1(name)));
            player.PlayMedia();
            WAIT_FOR_POSITION(player, 300);
            // A sink that did not keep time would have swallowed the whole
            // track by now.
            QVERIFY(player.MediaPosition() < player.MediaLength() - 1000);
            QCOMPARE(player.MediaMode(), TMPModes::mpPlaying);
        }
    }
};

QTEST_GUILESS_MAIN(MediaPlayerTest)
#include "tst_mediaplayer.moc"
