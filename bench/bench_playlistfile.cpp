// Loading and saving large playlists: the file routines alone, and the whole
// "Load List" path as the window runs it (read, append in one step,
// renumber, lay out and paint the list), with the memory it takes.
// `wc -l` on the same file is the reference for reading it at all; the same
// list written as M3U8 and as XSPF, as other players write them, is read
// against the .plf.
//
//   bench_playlistfile            runs 100,000 and 1,000,000 entries, each in
//                                 a process of its own so that the peak
//                                 memory of one does not hide the other's
//   bench_playlistfile COUNT      runs one size

#include "playlist/ListBox.h"
#include "playlist/core/Playlist.h"
#include "playlist/core/PlaylistFile.h"
#include "playlist/core/PlaylistFormats.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <malloc.h>

namespace {

// VmRSS (resident now) or VmHWM (resident at the peak) in megabytes.
double residentMegabytes(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qsizetype(strlen(field)) + 1).trimmed().split(' ').first().toDouble() /
                   1024.0;
    return -1;
}

// Paths of 80 bytes each.
std::vector<QByteArray> makePaths(int count) {
    std::vector<QByteArray> paths;
    paths.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        QByteArray p = "/home/listener/Music/Artist " + QByteArray::number(i / 1000) + "/Album " +
                       QByteArray::number(i / 10 % 100) + "/" + QByteArray::number(i % 10) +
                       " - Track title " + QByteArray::number(i);
        paths.push_back(p.leftJustified(76, '_') + ".mp3");
    }
    return paths;
}

// Runs a program with its output thrown away; returns the milliseconds taken,
// the start of the process included.
double runQuietly(const QString& program, const QStringList& arguments) {
    QElapsedTimer timer;
    timer.start();
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    process.waitForFinished(-1);
    return double(timer.nsecsElapsed()) / 1e6;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

double milliseconds(const QElapsedTimer& timer) {
    return double(timer.nsecsElapsed()) / 1e6;
}

int runOne(int count) {
    QTemporaryDir dir;
    const QByteArray file = QFile::encodeName(dir.filePath(QStringLiteral("big.plf")));
    std::printf("--- %d entries ---\n", count);

    {
        const std::vector<QByteArray> paths = makePaths(count);
        QElapsedTimer timer;
        timer.start();
        SaveListFile(file, paths);
        std::printf("SaveListFile (written, flushed to disk, renamed): %8.1f ms, %.1f MB\n",
                    milliseconds(timer), double(QFile(QFile::decodeName(file)).size()) / 1e6);
    }

    // Warm the page cache so that the figures below measure the program, not
    // the disk; wc -l then reads the same cached bytes.
    runQuietly(QStringLiteral("cat"), {QFile::decodeName(file)});
    // The two reads take turns, nine rounds of each, and the medians are
    // compared, as is each round's pair: a change in the machine's load then
    // falls on both alike, and a single disturbed round counts for nothing.
    std::vector<double> wcTimes, readTimes, ratios;
    size_t lineCount = 0;
    QElapsedTimer timer;
    for (int round = 0; round < 9; ++round) {
        const double wc =
            runQuietly(QStringLiteral("wc"), {QStringLiteral("-l"), QFile::decodeName(file)});
        timer.start();
        const PathList lines = ReadListFile(file);
        const double read = milliseconds(timer);
        lineCount = lines.size();
        wcTimes.push_back(wc);
        readTimes.push_back(read);
        ratios.push_back(read / wc);
    }
    std::printf("reference: wc -l (including process start):   %8.1f ms (median of 9)\n",
                median(wcTimes));
    std::printf("ReadListFile alone:                             %8.1f ms (median of 9; %zu lines,"
                " %.1f x wc -l, rounds %.1f x)\n",
                median(readTimes), lineCount, median(readTimes) / median(wcTimes), median(ratios));

    // The same list as other players write it: extended M3U8 as "Save List"
    // writes it, plain M3U8 (a path per line), and XSPF with a file URL per
    // track. Each is read in turn with the .plf, and besides the time on the
    // clock the processor time of the reading thread is told, which a busy
    // machine disturbs less.
    const QByteArray m3u8 = QFile::encodeName(dir.filePath(QStringLiteral("big.m3u8")));
    const QByteArray plain = QFile::encodeName(dir.filePath(QStringLiteral("plain.m3u8")));
    const QByteArray xspf = QFile::encodeName(dir.filePath(QStringLiteral("big.xspf")));
    {
        const PathList paths = ReadListFile(file);
        SavePlaylistFile(m3u8, paths);
        QByteArray lines;
        for (const QByteArray& path : paths)
            lines += path + '\n';
        SaveListBytes(plain, lines);
        QByteArray text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<playlist version=\"1\" "
                          "xmlns=\"http://xspf.org/ns/0/\">\n  <trackList>\n";
        for (const QByteArray& path : paths)
            text += "    <track><location>file://" + path.toPercentEncoding("/") +
                    "</location><title>" + DisplayName(path) + "</title></track>\n";
        text += "  </trackList>\n</playlist>\n";
        SaveListBytes(xspf, text);
        runQuietly(QStringLiteral("cat"),
                   {QFile::decodeName(m3u8), QFile::decodeName(plain), QFile::decodeName(xspf)});
    }
    const auto threadMilliseconds = [] {
        timespec now{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
    };
    struct Format {
        const char* name;
        QByteArray path;
        std::vector<double> wall, cpu, wallRatio, cpuRatio;
    };
    std::vector<Format> formats{{"extended .m3u8", m3u8, {}, {}, {}, {}},
                                {"plain .m3u8", plain, {}, {}, {}, {}},
                                {".xspf", xspf, {}, {}, {}, {}}};
    std::vector<double> plfWall, plfCpu;
    for (int round = 0; round < 5; ++round) {
        for (Format& format : formats) {
            timer.start();
            double cpu = threadMilliseconds();
            const size_t plfCount = ReadPlaylistFile(file).size();
            const double plfCpuNow = threadMilliseconds() - cpu;
            const double plfWallNow = milliseconds(timer);
            timer.start();
            cpu = threadMilliseconds();
            const size_t count = ReadPlaylistFile(format.path).size();
            format.cpu.push_back(threadMilliseconds() - cpu);
            format.wall.push_back(milliseconds(timer));
            format.wallRatio.push_back(format.wall.back() / plfWallNow);
            format.cpuRatio.push_back(format.cpu.back() / plfCpuNow);
            plfWall.push_back(plfWallNow);
            plfCpu.push_back(plfCpuNow);
            if (plfCount != lineCount || count != lineCount)
                return 1;
        }
    }
    std::printf("ReadPlaylistFile .plf:               %8.1f ms, processor %6.1f ms (medians)\n",
                median(plfWall), median(plfCpu));
    for (const Format& format : formats)
        std::printf("ReadPlaylistFile %-15s %5.1f MB: %8.1f ms, processor %6.1f ms; x .plf: "
                    "%.2f, processor %.2f (median of 5 rounds' ratios)\n",
                    format.name, double(QFile(QFile::decodeName(format.path)).size()) / 1e6,
                    median(format.wall), median(format.cpu), median(format.wallRatio),
                    median(format.cpuRatio));

    const double textMegabytes = double(QFile(QFile::decodeName(file)).size()) / (1 << 20);
    // What the reads above freed goes back to the system first, so that the
    // difference below is the loaded list alone.
    ::malloc_trim(0);
    const double before = residentMegabytes("VmRSS:");
    Playlist lists;
    TListBox view(&lists);
    view.resize(254, 301);
    view.show();
    QApplication::processEvents();

    // What "Load List" does after the dialog, up to the first painted list.
    timer.start();
    lists.ClearEntries();
    lists.AppendEntries(ReadListFile(file));
    const double appended = milliseconds(timer);
    lists.RenumberList();
    const double renumbered = milliseconds(timer);
    QApplication::processEvents();
    view.repaint();
    const double painted = milliseconds(timer);
    std::printf("Load List: read + append %8.1f ms, + renumber %8.1f ms, + layout and paint "
                "%8.1f ms (window busy)\n",
                appended, renumbered, painted);
    const double after = residentMegabytes("VmRSS:");
    std::printf("memory (MiB): list text %.1f; resident before load %.1f, after %.1f (+%.1f for "
                "the list), peak of the process %.1f\n",
                textMegabytes, before, after, after - before, residentMegabytes("VmHWM:"));

    // The whole of "Load List" again for each format, the .plf taking turns
    // with the others, up to the first painted list.
    const auto loadList = [&](const QByteArray& path) {
        timer.start();
        lists.ClearEntries();
        lists.AppendEntries(ReadPlaylistFile(path));
        lists.RenumberList();
        QApplication::processEvents();
        view.repaint();
        return milliseconds(timer);
    };
    std::vector<double> loadPlf, loadM3u, loadXspf;
    for (int round = 0; round < 3; ++round) {
        loadPlf.push_back(loadList(file));
        loadM3u.push_back(loadList(m3u8));
        loadXspf.push_back(loadList(xspf));
    }
    std::printf("Load List to the first paint (median of 3): .plf %.1f ms, .m3u8 %.1f ms (%.2f x), "
                ".xspf %.1f ms (%.2f x)\n",
                median(loadPlf), median(loadM3u), median(loadM3u) / median(loadPlf),
                median(loadXspf), median(loadXspf) / median(loadPlf));

    timer.start();
    SaveListFile(file, lists.Paths());
    std::printf("SaveListFile of the loaded list:                %8.1f ms\n", milliseconds(timer));
    timer.start();
    SavePlaylistFile(m3u8, lists.Paths());
    std::printf("Save List as .m3u8 of the loaded list:          %8.1f ms\n", milliseconds(timer));
    return lists.EntryCount() == count ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[]) {
    // The bench never opens a window on the user's screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    if (argc > 1)
        return runOne(QByteArray(argv[1]).toInt());
    int failures = 0;
    for (const char* count : {"100000", "1000000"}) {
        std::fflush(stdout);
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QApplication::applicationFilePath(), {QString::fromLatin1(count)});
        child.waitForFinished(-1);
        failures += child.exitCode() != 0;
    }
    return failures;
}
