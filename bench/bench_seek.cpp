// How long a click on the seek bar holds up the window, and how long it takes
// until the track sounds again at the clicked place, per format. The click is
// what the main window does: SeekMedia to 90 % of the track, then PlayMedia.
// The event loop's block is the longest gap between the ticks of a 1 ms
// timer from the click until the sound resumes; the sound has resumed when
// the position has moved 50 ms past the target. The reference figures are
// the same timer's longest gap over 300 ms of plain playing before the click
// (what the machine's load costs anyway), and opening the same file, which
// blocks the window by design.
//
// Run under tools/with-test-env (or give the test media folder as the first
// argument). The MIDI files of 5 and 100 minutes are written into a
// temporary folder, and so are MP3, WAV and MPEG files of some minutes.
#include "TestSupport.h"
#include "player/media/MediaPlayer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Round {
    double openMs = 0;
    double callMs = 0;  // SeekMedia + PlayMedia
    double blockMs = 0; // longest event-loop gap, the call included
    double resumeMs = -1;
    double idleGapMs = 0; // the same timer's longest gap while merely playing
    qint64 lengthMs = 0;
};

// Runs the event loop until done() or the time is up; returns the longest
// gap between two turns of a 1 ms timer.
template <typename Done> double RunUntil(Done done, int timeoutMs, const QElapsedTimer& since) {
    QEventLoop loop;
    double longest = 0, last = double(since.nsecsElapsed()) / 1e6;
    QTimer tick;
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const double now = double(since.nsecsElapsed()) / 1e6;
        longest = std::max(longest, now - last);
        last = now;
        if (done() || now > timeoutMs)
            loop.quit();
    });
    tick.start();
    loop.exec();
    return longest;
}

Round Measure(const QByteArray& path) {
    Round round;
    TMediaPlayer player;
    player.FileName = path;
    QElapsedTimer clock;
    clock.start();
    player.OpenMedia();
    round.openMs = double(clock.nsecsElapsed()) / 1e6;
    round.lengthMs = player.MediaLength();
    player.PlayMedia();
    clock.restart();
    RunUntil([&] { return player.MediaPosition() > 200; }, 10000, clock);
    clock.restart();
    round.idleGapMs = RunUntil([&] { return player.MediaPosition() < 0; }, 300, clock);

    const qint64 target = player.MediaLength() * 9 / 10;
    clock.restart();
    player.SeekMedia(target);
    player.PlayMedia();
    round.callMs = double(clock.nsecsElapsed()) / 1e6;
    bool resumed = false;
    const double gap = RunUntil(
        [&] {
            if (player.MediaPosition() > target + 50 && player.MediaPosition() < target + 5000)
                resumed = true;
            return resumed;
        },
        120000, clock);
    round.blockMs = std::max(round.callMs, gap);
    if (resumed)
        round.resumeMs = double(clock.nsecsElapsed()) / 1e6 - 50;
    return round;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString dir = TestSupport::MediaDirArgument(argc, argv);
    QTemporaryDir scratch;
    const auto midi = [&](int minutes) {
        const QString name = scratch.filePath(QStringLiteral("%1min.mid").arg(minutes));
        QFile file(name);
        if (!file.open(QIODevice::WriteOnly) || file.write(TestSupport::LongMidi(minutes)) < 0)
            qFatal("cannot write %s", qPrintable(name));
        return QFile::encodeName(name);
    };
    // Longer MP3, WAV and MPEG files are encoded here as the test media are,
    // with GStreamer's own tools, %1 standing for the file sink; should that
    // fail, the short test media stand in.
    const auto encoded = [&](const QString& name, const QString& pipeline, const char* fallback) {
        const QString target = scratch.filePath(name);
        const QString sink = QStringLiteral("filesink location=") + target;
        QProcess launch;
        launch.start(QStringLiteral("gst-launch-1.0"),
                     QStringList{QStringLiteral("-q")} +
                         pipeline.arg(sink).split(QLatin1Char(' '), Qt::SkipEmptyParts));
        if (launch.waitForFinished(600000) && launch.exitCode() == 0 && QFile::exists(target))
            return QFile::encodeName(target);
        std::fprintf(stderr, "cannot encode %s, using %s\n", qPrintable(name), fallback);
        return QFile::encodeName(QDir(dir).filePath(QString::fromUtf8(fallback)));
    };
    // 441 samples a buffer at 44.1 kHz: 100 buffers a second.
    const QString tone = QStringLiteral("audiotestsrc num-buffers=%1 samplesperbuffer=441 ! "
                                        "audio/x-raw,rate=44100,channels=2");
    struct Case {
        const char* label;
        QByteArray path;
        int rounds;
    };
    const std::vector<Case> cases{
        {"MIDI", midi(5), 5},
        {"MIDI", midi(100), 3},
        {"MP3", encoded("5min.mp3", tone.arg(30000) + " ! lamemp3enc ! %1", "long.mp3"), 10},
        {"WAV", encoded("5min.wav", tone.arg(30000) + " ! wavenc ! %1", "tone.wav"), 10},
        {"MPEG",
         encoded("1min.mpg",
                 "videotestsrc num-buffers=1500 ! video/x-raw,width=160,height=120,framerate=25/1,"
                 "format=I420 ! mpeg2enc ! mpegvideoparse ! avmux_mpeg name=mux ! %1 " +
                     tone.arg(6000) + " ! audioconvert ! avenc_mp2 ! mpegaudioparse ! mux.",
                 "clip.mpg"),
         10}};

    std::printf("audio sink %s; a click at 90 %% of the track, the mean of some rounds\n\n",
                TMediaPlayer::AudioSinkName().constData());
    std::printf("%-16s %9s %22s %18s %26s\n", "", "call", "event loop blocked", "sound again",
                "reference (ms)");
    std::printf("%-16s %9s %10s %11s %18s %12s %13s\n", "file", "(ms)", "mean (ms)", "max (ms)",
                "(ms, rounds)", "idle gap", "open");
    for (const Case& c : cases) {
        Round sum;
        int resumed = 0;
        double worstBlock = 0, resumeSum = 0;
        try {
            for (int i = 0; i < c.rounds; ++i) {
                const Round r = Measure(c.path);
                sum.lengthMs = r.lengthMs;
                sum.openMs += r.openMs / c.rounds;
                sum.callMs += r.callMs / c.rounds;
                sum.blockMs += r.blockMs / c.rounds;
                sum.idleGapMs = std::max(sum.idleGapMs, r.idleGapMs);
                worstBlock = std::max(worstBlock, r.blockMs);
                if (r.resumeMs >= 0) {
                    resumeSum += r.resumeMs;
                    ++resumed;
                }
            }
        } catch (const EMCIDeviceError& error) {
            std::printf("%-16s failed: %s\n", c.label, error.what());
            continue;
        }
        std::printf("%-5s %6.1f min %9.1f %10.1f %11.1f %11.1f %3d/%d %12.1f %13.1f\n", c.label,
                    double(sum.lengthMs) / 60000, sum.callMs, sum.blockMs, worstBlock,
                    resumed ? resumeSum / resumed : -1.0, resumed, c.rounds, sum.idleGapMs,
                    sum.openMs);
    }
    return 0;
}
