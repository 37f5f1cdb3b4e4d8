// Searching a folder tree of 100,000 files, as "Add Folder" with "Include
// Subfolder" does (each folder's files and subfolders put in name order),
// against `find DIR -type f` on the same warm tree, which sorts nothing.
//
//   bench_search          builds the tree in a temporary folder
//   bench_search FOLDER   searches an existing tree instead

#include "playlist/core/MediaSearch.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// 100 folders of 10 subfolders of 100 files, a fifth of them not media.
int buildTree(const QByteArray& root) {
    static const char* const extensions[] = {".mp3", ".MP3", ".wav", ".txt", ".mpeg"};
    int files = 0;
    for (int a = 0; a < 100; ++a) {
        const QByteArray artist = root + "/Artist " + QByteArray::number(a);
        ::mkdir(artist.constData(), 0755);
        for (int b = 0; b < 10; ++b) {
            const QByteArray album = artist + "/Album " + QByteArray::number(b);
            ::mkdir(album.constData(), 0755);
            for (int t = 0; t < 100; ++t) {
                const QByteArray name =
                    album + "/" + QByteArray::number(t) + " - Track" + extensions[t % 5];
                const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                if (fd >= 0) {
                    ::close(fd);
                    ++files;
                }
            }
        }
    }
    return files;
}

double findMilliseconds(const QByteArray& root) {
    QElapsedTimer timer;
    timer.start();
    QProcess find;
    find.setStandardOutputFile(QProcess::nullDevice());
    find.start(QStringLiteral("find"),
               {QFile::decodeName(root), QStringLiteral("-type"), QStringLiteral("f")});
    find.waitForFinished(-1);
    return double(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    QTemporaryDir dir;
    QByteArray root;
    if (argc > 1) {
        root = argv[1];
    } else {
        root = QFile::encodeName(dir.path());
        QElapsedTimer timer;
        timer.start();
        const int files = buildTree(root);
        std::printf("built a tree of %d files in %lld ms\n", files, timer.elapsed());
    }

    // The first runs warm the caches; the best of five counts for each side.
    constexpr int runs = 5;
    double best = 1e9, bestFind = 1e9, bestFilter = 1e9;
    size_t found = 0, media = 0;
    findMilliseconds(root);
    for (int run = 0; run < runs; ++run) {
        bestFind = std::min(bestFind, findMilliseconds(root));
        QElapsedTimer timer;
        timer.start();
        std::vector<QByteArray> paths;
        SearchFiles(root + '/', "*.*", true, paths);
        best = std::min(best, double(timer.nsecsElapsed()) / 1e6);
        found = paths.size();
        timer.start();
        FilterMediaFiles(paths);
        bestFilter = std::min(bestFilter, double(timer.nsecsElapsed()) / 1e6);
        media = paths.size();
    }
    std::printf("SearchFiles (recursive, sorted): %6.1f ms, %zu files\n", best, found);
    std::printf("FilterMediaFiles:              %8.1f ms, %zu media files\n", bestFilter, media);
    std::printf("reference: find DIR -type f:   %8.1f ms (including process start)\n", bestFind);
    std::printf("search / find:                 %8.2f (at most 1.5 wanted)\n", best / bestFind);
    return 0;
}
