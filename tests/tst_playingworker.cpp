#include "player/MediaPlayer.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <csignal>
#include <unistd.h>

namespace {

constexpr int PatienceMs = 8000;

// This process's children, zombies included.
QList<pid_t> Children() {
    QList<pid_t> children;
    const QByteArray self = QByteArray::number(getpid());
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!entry[0].isDigit() || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        // pid (comm) state ppid: the command may hold blanks and brackets.
        if (line.mid(line.lastIndexOf(')') + 2).split(' ').value(1) == self)
            children.append(pid_t(entry.toInt()));
    }
    return children;
}

bool MapsFFmpeg() {
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("libavcodec");
}

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

void Open(TMediaPlayer& player, const QString& name) {
    player.FileName = TestSupport::Media(name);
    player.OpenMedia();
}

} // namespace

class PlayingWorkerTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (TestSupport::MediaDir().isEmpty())
            QSKIP("TOLVANE_TEST_MEDIA is not set; run under tools/with-test-env");
    }

    void wmaPlaysInAChildThatEndsWithTheFile() {
        TMediaPlayer player;
        Open(player, QStringLiteral("tone.wma"));
        QCOMPARE(Children().size(), 1);
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
        QCOMPARE(Children(), QList<pid_t>());

        // Those the player decodes itself: no child, and FFmpeg never loaded.
        for (const char* name : {"clip.avi", "clip.mpg", "tone.mp3", "tune.mid"}) {
            Open(player, QString::fromLatin1(name));
            player.PlayMedia();
            QTRY_VERIFY_WITH_TIMEOUT(player.MediaPosition() >= 300, PatienceMs);
            QVERIFY2(Children().isEmpty(), name);
        }
        player.CloseMedia();
        QVERIFY(!MapsFFmpeg());
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
        const QList<pid_t> children = Children();
        QCOMPARE(children.size(), 1);
        ::kill(children[0], signal);

        // As a stream that broke off: at its end, stopped, with a reason.
        QTRY_COMPARE_WITH_TIMEOUT(player.MediaMode(), TMPModes::mpStopped, PatienceMs);
        QCOMPARE(player.MediaPosition(), player.MediaLength());
        QVERIFY(!player.LastError().isEmpty());
        QCOMPARE(Children(), QList<pid_t>());
        QVERIFY_THROWS_EXCEPTION(EMCIDeviceError, player.PlayMedia());

        // The next file opens, and so does the same one again.
        Open(player, QStringLiteral("tone.wav"));
        Open(player, QStringLiteral("tone.wma"));
        player.PlayMedia();
        QTRY_VERIFY_WITH_TIMEOUT(player.MediaPosition() >= 300, PatienceMs);
        player.CloseMedia();
        QCOMPARE(Children(), QList<pid_t>());
    }
};

QTEST_GUILESS_MAIN(PlayingWorkerTest)
#include "tst_playingworker.moc"
