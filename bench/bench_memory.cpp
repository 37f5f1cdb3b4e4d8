// The player's resident memory over 1,000 track changes, the way the player
// changes tracks (PlayCurrentEntry on the next entry, a short play), beside
// the same run with glibc's default number of malloc arenas.
//
//   build/bench_memory [media folder] [changes]   (default: $TOLVANE_TEST_MEDIA, 1000)
//
// Runs on Qt's offscreen platform unless a display is set.

#include "platform/Memory.h"
#include "player/MediaPlayer.h"
#include "player/Unit1.h"
#include "playlist/Unit2.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <cstdio>
#include <cstring>

namespace {

// One line per 100 changes: "changes resident_kB".
QList<std::pair<int, long>> Run(const QString& media, int changes) {
    TForm1 form1;
    TForm2 form2(&form1);
    form1.Form2 = &form2;
    for (const char* name :
         {"tone.mp3", "tone.wav", "tone.wma", "tune.mid", "clip.avi", "clip.mpg"})
        form2.AppendEntry(QFile::encodeName(media + QLatin1Char('/') + QLatin1String(name)));
    form2.SetCurrentIndex(0);
    QList<std::pair<int, long>> curve{{0, ResidentKilobytes()}};
    for (int change = 1; change <= changes; ++change) {
        form1.SelectNextEntry();
        form1.PlayCurrentEntry();
        // Long enough for every decoder to get going.
        QElapsedTimer playing;
        playing.start();
        while (playing.elapsed() < 60)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        if (change % 100 == 0)
            curve.append({change, ResidentKilobytes()});
    }
    return curve;
}

} // namespace

int main(int argc, char* argv[]) {
    const bool reference = argc > 1 && std::strcmp(argv[1], "--default-arenas") == 0;
    if (!reference)
        LimitMallocArenas();
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int first = reference ? 2 : 1;
    const QString media = argc > first ? QString::fromLocal8Bit(argv[first])
                                       : qEnvironmentVariable("TOLVANE_TEST_MEDIA");
    const int changes = argc > first + 1 ? std::atoi(argv[first + 1]) : 1000;
    if (media.isEmpty() || !QFile::exists(media + QStringLiteral("/tone.mp3"))) {
        std::fprintf(stderr,
                     "usage: bench_memory MEDIA_FOLDER [CHANGES] (made by tests/make-media)\n");
        return 2;
    }
    const auto curve = Run(media, changes);
    if (reference) {
        for (const auto& [change, kb] : curve)
            std::printf("%d %ld\n", change, kb);
        return 0;
    }

    QProcess other;
    other.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    other.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--default-arenas"), media, QString::number(changes)});
    other.waitForFinished(-1);
    const QList<QByteArray> lines = other.readAllStandardOutput().split('\n');
    std::printf("%8s %22s %30s\n", "changes", "resident MB, player", "reference: default arenas");
    for (int i = 0; i < curve.size(); ++i) {
        const QList<QByteArray> fields =
            i < lines.size() ? lines[i].split(' ') : QList<QByteArray>();
        const double theirs = fields.size() == 2 ? fields[1].toLong() / 1024.0 : -1;
        std::printf("%8d %22.1f %30.1f\n", curve[i].first, curve[i].second / 1024.0, theirs);
    }
    // Where the resident memory lies: the heap, mapped files (the plugins'
    // code), shared memory (the video window's images).
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("Rss"))
                std::printf("%s\n", line.simplified().constData());
    std::printf("pipelines left running: %d\n", TMediaPlayer::AbandonedPipelines());
    return 0;
}
