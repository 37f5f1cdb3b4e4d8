// How fast the media device opens files, and how fast it turns bad ones down.
// Run under tools/with-test-env (or give the test media folder as the first
// argument). The reference figure is the same open with a fresh pipeline each
// time, which is what reusing one pipeline per player saves.
#include "TestSupport.h"

#include "player/media/MediaPlayer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>
#include <vector>

namespace {

struct Figures {
    double mean = 0, min = 0, max = 0;
    QString failure;
};

template <typename Open> Figures Measure(int rounds, Open open) {
    std::vector<double> times;
    Figures figures;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer timer;
        timer.start();
        try {
            open();
        } catch (const EMCIDeviceError& error) {
            figures.failure = QString::fromUtf8(error.what());
        }
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    for (double t : times)
        figures.mean += t / double(times.size());
    figures.min = *std::min_element(times.begin(), times.end());
    figures.max = *std::max_element(times.begin(), times.end());
    return figures;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString dir = TestSupport::MediaDirArgument(argc, argv);
    const auto path = [&](const char* name) {
        return QFile::encodeName(QDir(dir).filePath(QString::fromUtf8(name)));
    };
    constexpr int Rounds = 20;

    std::printf("audio sink %s, video sink %s\n\n", TMediaPlayer::AudioSinkName().constData(),
                TMediaPlayer::VideoSinkName().constData());
    std::printf("%-16s %9s  %28s  %28s\n", "file", "length", "open, one pipeline (ms)",
                "reference: fresh pipeline");
    std::printf("%-16s %9s  %8s %8s %8s    %8s %8s %8s\n", "", "ms", "mean", "min", "max", "mean",
                "min", "max");
    for (const char* name : {"tone.mp3", "long.mp3", "tone.wav", "tone.wma", "tune.mid", "tune.rmi",
                             "clip.avi", "clip.mpg", "clip.mpeg"}) {
        TMediaPlayer player;
        player.FileName = path(name);
        const Figures reused = Measure(Rounds, [&] { player.OpenMedia(); });
        const qint64 length = player.isOpen() ? player.MediaLength() : -1;
        const Figures fresh = Measure(Rounds, [&] {
            TMediaPlayer once;
            once.FileName = path(name);
            once.OpenMedia();
        });
        std::printf("%-16s %9lld  %8.1f %8.1f %8.1f    %8.1f %8.1f %8.1f %s\n", name,
                    (long long)length, reused.mean, reused.min, reused.max, fresh.mean, fresh.min,
                    fresh.max, qPrintable(reused.failure));
    }

    // PlayMedia returns at once; a video's first play also opens its window.
    std::printf("\n%-16s %10s %8s\n", "PlayMedia", "mean ms", "max ms");
    for (const char* name : {"tone.mp3", "tune.mid", "clip.avi", "clip.mpg"}) {
        TMediaPlayer player;
        player.FileName = path(name);
        double total = 0, most = 0;
        constexpr int Plays = 5;
        for (int i = 0; i < Plays; ++i) {
            player.OpenMedia();
            QElapsedTimer timer;
            timer.start();
            player.PlayMedia();
            const double ms = double(timer.nsecsElapsed()) / 1e6;
            total += ms;
            most = std::max(most, ms);
            player.CloseMedia();
        }
        std::printf("%-16s %10.1f %8.1f\n", name, total / Plays, most);
    }

    QTemporaryDir scratch;
    const QByteArray fifo = QFile::encodeName(scratch.filePath(QStringLiteral("pipe.mp3")));
    mkfifo(fifo.constData(), 0600);
    std::printf("\n%-16s %8s %8s  %s\n", "turned down", "mean ms", "max ms", "reason");
    const std::vector<std::pair<const char*, QByteArray>> bad = {
        {"random.mp3", path("random.mp3")},
        {"empty.mp3", path("empty.mp3")},
        {"text.avi", path("text.avi")},
        {"truncated.mp3", path("truncated.mp3")},
        {"truncated.wav", path("truncated.wav")},
        {"truncated.mid", path("truncated.mid")},
        {"missing", path("missing.mp3")},
        {"folder", QFile::encodeName(dir)},
        {"FIFO", fifo},
        {"/dev/null", "/dev/null"},
    };
    TMediaPlayer tester;
    for (const auto& [label, file] : bad) {
        tester.FileName = file;
        const Figures figures = Measure(Rounds, [&] { tester.OpenMedia(); });
        std::printf("%-16s %8.1f %8.1f  %s\n", label, figures.mean, figures.max,
                    qPrintable(figures.failure));
    }

    // What the bad-file scan does: one test player, every file opened once.
    std::vector<QByteArray> mix;
    for (const char* name : {"tone.mp3", "tone.wav", "tone.wma", "tune.mid", "clip.avi", "clip.mpg",
                             "random.mp3", "text.avi", "truncated.mp3", "empty.wav"})
        mix.push_back(path(name));
    int opens = 0;
    QElapsedTimer timer;
    timer.start();
    for (int round = 0; round < 10; ++round)
        for (const QByteArray& file : mix) {
            tester.FileName = file;
            try {
                tester.OpenMedia();
            } catch (const EMCIDeviceError&) {
            }
            ++opens;
        }
    std::printf("\nscan of a mixed list: %d opens in %lld ms, %.0f opens/s\n", opens,
                (long long)timer.elapsed(), opens * 1000.0 / double(timer.elapsed()));
    return 0;
}
