// The file tester: verdicts from its worker processes, and what becomes of a
// file that hangs or kills the worker.

#include "TestSupport.h"

#include "player/media/FileTester.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QTimer>
#include <unistd.h>

using TestSupport::Media;
using Verdict = TFileTester::Verdict;

namespace {

// Notes the longest time the event loop went without a timer tick.
struct Liveness {
    QTimer timer;
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    Liveness() {
        QObject::connect(&timer, &QTimer::timeout,
                         [this] { longestGap = std::max(longestGap, sinceTick.restart()); });
        sinceTick.start();
        timer.start(10);
    }
};

} // namespace

class FileTesterTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        if (TestSupport::MediaDir().isEmpty())
            QSKIP("TOLVANE_TEST_MEDIA is not set; run under tools/with-test-env");
    }

    void verdictsCometoTheFileThatWasSent() {
        TFileTester tester(nullptr, 2);
        const QList<std::pair<QByteArray, Verdict>> files = {
            {Media("tone.mp3"), Verdict::Opens},      {Media("random.mp3"), Verdict::Fails},
            {Media("tune.mid"), Verdict::Opens},      {Media("text.avi"), Verdict::Fails},
            {Media("clip.avi"), Verdict::Opens},      {Media("empty.wav"), Verdict::Fails},
            {Media("tone.wma"), Verdict::Opens},      {Media("missing.mp3"), Verdict::Fails},
            {Media("truncated.mid"), Verdict::Fails}, {Media("clip.mpg"), Verdict::Opens},
        };
        QList<int> tickets;
        for (const auto& file : files)
            tickets << tester.Send(file.first);
        for (int i = 0; i < files.size(); ++i)
            QCOMPARE(tester.Wait(tickets[i]), files[i].second);
        QCOMPARE(tester.Test(Media("random.mp3")), Verdict::Fails);
        QCOMPARE(tester.LastReason(), QStringLiteral("Could not determine type of stream."));
    }

    // Real-time status bytes inside a MIDI track keep GStreamer's MIDI parser going for
    // good: the worker is killed at the limit and the next file gets a new one.
    void aFileThatHangsCostsTheLimitOnceAndTheWindowStaysAlive() {
        TFileTester tester(TFileTester::DefaultProgram(), {}, 1500);
        Liveness alive;
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(tester.Test(Media("corrupt/realtime.mid")), Verdict::Fails);
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(alive.longestGap < 500, qPrintable(QString::number(alive.longestGap)));
        QCOMPARE(tester.Test(Media("tone.wav")), Verdict::Opens);
        QCOMPARE(tester.WorkersStarted(), 2);
    }

    // FFmpeg's libraries (WMA) are let go with the worker once it has been
    // idle a while; other files keep their worker, which costs nothing to keep.
    void aWorkerHoldingFFmpegLeavesWhenIdleAndTheNextFileGetsANewOne() {
        TFileTester tester(TFileTester::DefaultProgram(),
                           {QStringLiteral("--let-go-after"), QStringLiteral("200")}, 10000);
        QCOMPARE(tester.Test(Media("tone.mp3")), Verdict::Opens);
        QTest::qWait(600);
        QCOMPARE(tester.Test(Media("tone.wav")), Verdict::Opens);
        QCOMPARE(tester.WorkersStarted(), 1);
        QCOMPARE(tester.Test(Media("tone.wma")), Verdict::Opens);
        QTest::qWait(600);
        QCOMPARE(tester.Test(Media("tone.wav")), Verdict::Opens);
        QCOMPARE(tester.WorkersStarted(), 2);
    }

    void aWorkerThatDiesCostsOneFile() {
        // A stand-in that takes a request and crashes.
        TFileTester tester(
            QStringLiteral("/bin/sh"),
            {QStringLiteral("-c"), QStringLiteral("head -c 4 >/dev/null; kill -SEGV $$")}, 10000);
        QCOMPARE(tester.Test(Media("tone.wav")), Verdict::Fails);
        QCOMPARE(tester.LastReason(), QStringLiteral("The file stopped the media device."));
        QCOMPARE(tester.Test(Media("tone.wav")), Verdict::Fails);
        QCOMPARE(tester.WorkersStarted(), 2);
    }

    // A request no worker takes (each leaves without a word, as one does
    // with a request beyond its frame limit) fails after a few workers, and
    // a name longer than any path fails without one.
    void aRequestEveryWorkerRefusesFails() {
        TFileTester refusing(QStringLiteral("/bin/sh"),
                             {QStringLiteral("-c"), QStringLiteral("head -c 4 >/dev/null")}, 10000);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(refusing.Test(Media("tone.wav"), [&] { return clock.elapsed() > 20000; }),
                 Verdict::Fails);
        QVERIFY(refusing.WorkersStarted() <= 3);

        TFileTester tester;
        QCOMPARE(tester.Test("/" + QByteArray(1100 * 1024, 'n')), Verdict::Fails);
        QCOMPARE(tester.LastReason(), QStringLiteral("The file name is too long."));
        QCOMPARE(tester.WorkersStarted(), 0);
    }

    // GStreamer warns for every buffer of a WAV one byte short: the worker
    // lets a few of those lines through for the file and leaves out the rest.
    void aFileThatFloodsTheLogSaysAFewLines() {
        QTemporaryDir folder;
        QFile tone(QFile::decodeName(Media("tone.wav")));
        QVERIFY(tone.open(QIODevice::ReadOnly));
        const QByteArray whole = tone.readAll();
        const QByteArray shortWav = QFile::encodeName(folder.filePath(QStringLiteral("short.wav")));
        TestSupport::WriteFile(shortWav, whole.left(whole.size() - 1));
        // The worker writes its log to the error output it was started with.
        QTemporaryFile log;
        QVERIFY(log.open());
        const int ownErrors = dup(STDERR_FILENO);
        dup2(log.handle(), STDERR_FILENO);
        TFileTester(nullptr).Test(shortWav);
        dup2(ownErrors, STDERR_FILENO);
        ::close(ownErrors);
        QVERIFY(log.seek(0));
        const qsizetype lines = log.readAll().count("GStreamer-");
        QVERIFY2(lines > 0 && lines <= 11, qPrintable(QString::number(lines)));
    }
};

QTEST_MAIN(FileTesterTest)
#include "tst_filetester.moc"
