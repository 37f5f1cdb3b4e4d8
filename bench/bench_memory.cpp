// The player's resident memory over 1,000 track changes, the way the player
// changes tracks (PlayCurrentEntry on the next entry, a short play), beside
// the same run with glibc's default number of malloc arenas. Also what the
// child processes cost meanwhile: the one that plays (at its largest, and
// with the one kept ready for the next) and the one that tests files (at
// the end).
//
//   build/bench_memory [media folder] [changes]   (default: $TOLVANE_TEST_MEDIA, 1000)
//
// Runs on Qt's offscreen platform unless a display is set.

#include "platform/Memory.h"
#include "player/Unit1.h"
#include "player/media/MediaPlayer.h"
#include "playlist/Unit2.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <cstdio>
#include <cstring>

namespace {

// A field of /proc/PID/status in kB ("VmRSS", "VmHWM"), or 0.
long StatusKilobytes(const QString& pid, const QByteArray& field) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith(field + ':'))
                return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLong();
    return 0;
}

// This process's children: their ids and command lines.
QList<std::pair<QString, QByteArray>> Children() {
    QList<std::pair<QString, QByteArray>> children;
    const QByteArray self = QByteArray::number(QCoreApplication::applicationPid());
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!pid[0].isDigit() || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        // pid (comm) state ppid ...: the command may hold blanks and brackets.
        if (line.mid(line.lastIndexOf(')') + 2).split(' ').value(1) != self)
            continue;
        QFile command(QStringLiteral("/proc/%1/cmdline").arg(pid));
        command.open(QIODevice::ReadOnly);
        children.append({pid, command.readAll().replace('\0', ' ')});
    }
    return children;
}

long playingChildPeak = 0;
long playingChildrenPeak = 0;
long testerChildKb = 0;

// The children that play, or wait to play, a file.
void WatchPlayingChildren() {
    long together = 0;
    for (const auto& [pid, command] : Children())
        if (command.contains("--play")) {
            playingChildPeak = std::max(playingChildPeak, StatusKilobytes(pid, "VmHWM"));
            together += StatusKilobytes(pid, "VmRSS");
        }
    playingChildrenPeak = std::max(playingChildrenPeak, together);
}

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
        WatchPlayingChildren();
        if (change % 100 == 0)
            curve.append({change, ResidentKilobytes()});
    }
    for (const auto& [pid, command] : Children())
        if (!command.contains("--play"))
            testerChildKb += StatusKilobytes(pid, "VmRSS");
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
    std::printf("child that plays: %.1f MB resident at its largest\n", playingChildPeak / 1024.0);
    std::printf("it and the child kept ready for the next: %.1f MB resident together at most\n",
                playingChildrenPeak / 1024.0);
    if (testerChildKb > 0)
        std::printf("child that tests files: %.1f MB resident at the end\n",
                    testerChildKb / 1024.0);
    else
        std::printf("child that tests files: none left at the end\n");
    std::printf("pipelines left running: %d\n", TMediaPlayer::AbandonedPipelines());
    return 0;
}
