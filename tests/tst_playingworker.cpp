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

// This process's children, zombies included, with their states.
QList<std::pair<pid_t, char>> Children() {
    QList<std::pair<pid_t, char>> children;
    const QByteArray self = QByteArray::number(getpid());
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!entry[0].isDigit() || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        // pid (comm) state ppid: the command may hold blanks and brackets.
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.value(1) == self)
            children.append({pid_t(entry.toInt()), fields[0].at(0)});
    }
    return children;
}

bool MapsFFmpeg(const QString& pid = QStringLiteral("self")) {
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("libavcodec");
}

// The children that have FFmpeg's decoders loaded.
QList<pid_t> Decoding() {
    QList<pid_t> decoding;
    for (const auto& [pid, state] : Children())
        if (MapsFFmpeg(QString::number(pid)))
            decoding.append(pid);
    return decoding;
}

// All that is left once no file plays in a child: at most the one started
// ahead for the next such file, no decoder loaded and nothing unreaped.
#define VERIFY_NO_CHILD_DECODES()                                                                  \
    do {                                                                                           \
        QCOMPARE(Decoding(), QList<pid_t>());                                                      \
        const auto children = Children();                                                          \
        QVERIFY(children.size() <= 1);                                                             \
        for (const auto& [pid, state] : children)                                                  \
            QVERIFY2(state != 'Z', "a child left unreaped");                                       \
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
        QCOMPARE(Decoding().size(), 1);
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
        VERIFY_NO_CHILD_DECODES();

        // Those the player decodes itself: no child, and FFmpeg never loaded.
        for (const char* name : {"clip.avi", "clip.mpg", "tone.mp3", "tune.mid"}) {
            Open(player, QString::fromLatin1(name));
            player.PlayMedia();
            QTRY_VERIFY_WITH_TIMEOUT(player.MediaPosition() >= 300, PatienceMs);
            QVERIFY2(Decoding().isEmpty(), name);
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
        const QList<pid_t> decoding = Decoding();
        QCOMPARE(decoding.size(), 1);
        ::kill(decoding[0], signal);

        // As a stream that broke off: at its end, stopped, with a reason.
        QTRY_COMPARE_WITH_TIMEOUT(player.MediaMode(), TMPModes::mpStopped, PatienceMs);
        QCOMPARE(player.MediaPosition(), player.MediaLength());
        QVERIFY(!player.LastError().isEmpty());
        VERIFY_NO_CHILD_DECODES();
        QVERIFY_THROWS_EXCEPTION(EMCIDeviceError, player.PlayMedia());

        // The next file opens, and so does the same one again.
        Open(player, QStringLiteral("tone.wav"));
        Open(player, QStringLiteral("tone.wma"));
        player.PlayMedia();
        QTRY_VERIFY_WITH_TIMEOUT(player.MediaPosition() >= 300, PatienceMs);
        player.CloseMedia();
        VERIFY_NO_CHILD_DECODES();
    }
};

QTEST_GUILESS_MAIN(PlayingWorkerTest)
#include "tst_playingworker.moc"
