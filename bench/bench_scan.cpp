// How fast "Clear Bad Files" tries files: 1,000 valid short files, then 1,000
// broken ones, beside gst-discoverer-1.0 reading the same folders.
//
//   build/bench_scan [media folder]   (default: $TOLVANE_TEST_MEDIA)
//
// Runs on Qt's offscreen platform unless a display is set.

#include "player/Unit1.h"
#include "playlist/core/Playlist.h"
#include "playlist/Unit2.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>

static QStringList makeCopies(const QString& source, const QString& folder, const QString& ext,
                              int count) {
    QDir().mkpath(folder);
    QStringList made;
    for (int i = 0; i < count; ++i) {
        const QString target = QStringLiteral("%1/f%2.%3").arg(folder).arg(i, 4, 10, QChar('0')).arg(ext);
        QFile::copy(source, target);
        made << target;
    }
    return made;
}

static double scan(TForm2& form2, const QStringList& files, const char* what) {
    form2.ClearEntries();
    for (const QString& f : files)
        form2.AppendEntry(QFile::encodeName(f));
    QElapsedTimer clock;
    clock.start();
    form2.ScanBadFiles();
    const double seconds = clock.nsecsElapsed() / 1e9;
    std::printf("scan of %lld %s files: %.2f s, %.0f files/s, %d entries left\n",
                qlonglong(files.size()), what, seconds, files.size() / seconds, form2.EntryCount());
    return seconds;
}

static double discoverer(const QString& folder, const char* what) {
    QElapsedTimer clock;
    clock.start();
    QProcess p;
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setStandardErrorFile(QProcess::nullDevice());
    p.start(QStringLiteral("gst-discoverer-1.0"), {folder});
    if (!p.waitForFinished(600000)) {
        std::printf("gst-discoverer-1.0 could not be run (gstreamer1.0-plugins-base-apps)\n");
        return 0;
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    std::printf("gst-discoverer-1.0 on the same %s files: %.2f s\n", what, seconds);
    return seconds;
}

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString media = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                   : qEnvironmentVariable("TOLVANE_TEST_MEDIA");
    if (media.isEmpty() || !QFile::exists(media + QStringLiteral("/tone.mp3"))) {
        std::fprintf(stderr, "usage: bench_scan MEDIA_FOLDER (made by tests/make-media)\n");
        return 2;
    }
    QTemporaryDir dir;
    const int n = 1000;
    const QStringList good = makeCopies(media + "/tone.mp3", dir.filePath("good"), "mp3", n);
    const QStringList bad = makeCopies(media + "/random.mp3", dir.filePath("bad"), "mp3", n);

    TForm1 form1;
    TForm2 form2(&form1);
    const double validScan = scan(form2, good, "valid");
    const double brokenScan = scan(form2, bad, "broken");
    const double validReference = discoverer(dir.filePath("good"), "valid");
    const double brokenReference = discoverer(dir.filePath("bad"), "broken");
    if (validReference > 0 && brokenReference > 0)
        std::printf("scan rate / discoverer's rate: valid %.1fx, broken %.1fx\n",
                    validReference / validScan, brokenReference / brokenScan);
    return 0;
}
