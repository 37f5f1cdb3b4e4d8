#include "playlist/core/MediaSearch.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using Paths = QList<QByteArray>;

namespace {

void touch(const QByteArray& path) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QVERIFY2(fd >= 0, path.constData());
    ::close(fd);
}

void makeFolder(const QByteArray& path) {
    QVERIFY2(::mkdir(path.constData(), 0755) == 0, path);
}

void makeLink(const QByteArray& target, const QByteArray& link) {
    QVERIFY2(::symlink(target.constData(), link.constData()) == 0, link.constData());
}

Paths search(const QByteArray& folder, bool recurse, const QByteArray& mask = "*.*") {
    std::vector<QByteArray> found;
    SearchFiles(folder, mask, recurse, found);
    return Paths(found.begin(), found.end());
}

Paths media(Paths paths) {
    std::vector<QByteArray> list(paths.begin(), paths.end());
    FilterMediaFiles(list);
    return Paths(list.begin(), list.end());
}

Paths sorted(Paths paths) {
    std::sort(paths.begin(), paths.end());
    return paths;
}

} // namespace

class MediaSearchTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QByteArray root_;
    int cases_ = 0;

private slots:
    void init() {
        // A fresh tree for every case, so that the listing orders are those
        // of files made in that case alone.
        root_ = QFile::encodeName(dir_.path()) + "/case" + QByteArray::number(cases_++);
        makeFolder(root_);
    }

    // --- the extension rule ---
    void extensionRunsFromTheLastFullStopAfterTheLastDelimiter_data() {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("extension");
        QTest::newRow("plain") << QByteArray("/music/a.mp3") << QByteArray(".mp3");
        QTest::newRow("last full stop") << QByteArray("/m/song.mp3.bak") << QByteArray(".bak");
        QTest::newRow("case kept") << QByteArray("/m/SONG.MP3") << QByteArray(".MP3");
        QTest::newRow("full stop in folder") << QByteArray("/my.folder/readme") << QByteArray();
        // "\\" and ":" are parts of names, not folder separators.
        QTest::newRow("backslash in name") << QByteArray("/m/a.b\\c") << QByteArray(".b\\c");
        QTest::newRow("colon in name") << QByteArray("/m/Live: set.mp3") << QByteArray(".mp3");
        QTest::newRow("no full stop") << QByteArray("/m/noext") << QByteArray();
        QTest::newRow("trailing full stop") << QByteArray("/m/a.") << QByteArray(".");
        QTest::newRow("name is the extension") << QByteArray("/m/.mp3") << QByteArray(".mp3");
        QTest::newRow("empty") << QByteArray() << QByteArray();
    }
    void extensionRunsFromTheLastFullStopAfterTheLastDelimiter() {
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, extension);
        QCOMPARE(PathExtension(path), extension);
    }
    void filterKeepsTheEightMediaExtensionsInAnyCaseAndKeepsOrder() {
        const Paths all = {"/a.mp3",
                           "/notes.txt",
                           "/b.AVI",
                           "/c.Mpg",
                           "/d.mid",
                           "/e.RMI",
                           "/song.mp3.bak",
                           "/f.wav",
                           "/g.WmA",
                           "/noext",
                           "/my.folder/readme",
                           "/clip.MPEG",
                           "/h.mp4",
                           "/i.mp",
                           "/j.\xC9MP3",
                           "/Live: x.mp3",
                           "/a.b:mp3"};
        QCOMPARE(media(all), (Paths{"/a.mp3", "/b.AVI", "/c.Mpg", "/d.mid", "/e.RMI", "/f.wav",
                                    "/g.WmA", "/clip.MPEG", "/Live: x.mp3"}));
    }

    // --- searching folders ---
    void subfoldersAreSearchedAfterTheFolderOwnFilesDepthFirst() {
        // A (a1.mp3), A/B (b1.mp3), A/B/D (d1.mp3), A/C (c1.mp3)
        const QByteArray a = root_ + "/A";
        makeFolder(a);
        makeFolder(a + "/C");
        makeFolder(a + "/B");
        makeFolder(a + "/B/D");
        touch(a + "/B/b1.mp3");
        touch(a + "/B/D/d1.mp3");
        touch(a + "/C/c1.mp3");
        touch(a + "/a1.mp3");
        const Paths expected = {a + "/a1.mp3", a + "/B/b1.mp3", a + "/B/D/d1.mp3", a + "/C/c1.mp3"};
        QCOMPARE(search(a, true), expected);
        QCOMPARE(search(a + '/', true), expected);
    }
    void withoutSubfoldersOnlyTheFolderOwnFilesAreFound() {
        const QByteArray a = root_ + "/A";
        makeFolder(a);
        makeFolder(a + "/B");
        touch(a + "/B/b1.mp3");
        touch(a + "/a2.wav");
        touch(a + "/a1.mp3");
        QCOMPARE(search(a, false), (Paths{a + "/a1.mp3", a + "/a2.wav"}));
    }
    void filesAndSubfoldersComeInNameOrderNumbersByValue() {
        // Made in an order that neither the names nor the file system's
        // listing (creation order, its reverse, or a hash) is likely to keep.
        for (const char* name :
             {"03-song.mp3", "10 b.mp3", "01-song.mp3", "b.mp3", "05-song.mp3", "A.mp3", "6 b.mp3",
              "02-song.mp3", "\xc3\x89t\xc3\xa9.mp3", "04-song.mp3", "a.mp3",
              "\xc3\xa9"
              "a.mp3"})
            touch(root_ + '/' + name);
        for (const char* sub : {"disc 10", "Disc 2", "disc 1"}) {
            makeFolder(root_ + '/' + sub);
            touch(root_ + '/' + sub + "/t.mp3");
        }
        Paths expected;
        for (const char* name :
             {"01-song.mp3", "02-song.mp3", "03-song.mp3", "04-song.mp3", "05-song.mp3", "6 b.mp3",
              "10 b.mp3", "A.mp3", "a.mp3", "b.mp3",
              "\xc3\xa9"
              "a.mp3",
              "\xc3\x89t\xc3\xa9.mp3", "disc 1/t.mp3", "Disc 2/t.mp3", "disc 10/t.mp3"})
            expected << root_ + '/' + name;
        QCOMPARE(search(root_, true), expected);
    }
    void aSubfolderWhoseNameBeginsWithAFullStopIsNotSearched() {
        makeFolder(root_ + "/.hidden");
        touch(root_ + "/.hidden/h1.mp3");
        touch(root_ + "/.dotfile.mp3");
        QCOMPARE(search(root_, true), Paths{root_ + "/.dotfile.mp3"});
    }
    void onlyMediaFilesOfTheTreeSurviveTheFilter() {
        for (const char* name : {"SONG.MP3", "clip.MPEG", "notes.txt", "song.mp3.bak", "noext"})
            touch(root_ + '/' + name);
        makeFolder(root_ + "/my.folder");
        touch(root_ + "/my.folder/readme");
        const Paths found = search(root_, true);
        QCOMPARE(found.size(), 6);
        QCOMPARE(sorted(media(found)), (Paths{root_ + "/SONG.MP3", root_ + "/clip.MPEG"}));
    }
    void theMaskStarDotStarMatchesNamesWithoutAFullStop() {
        touch(root_ + "/noext");
        QCOMPARE(search(root_, false), Paths{root_ + "/noext"});
        touch(root_ + "/SONG.MP3");
        QCOMPARE(search(root_, false, "*.mp3"), Paths{root_ + "/SONG.MP3"});
    }
    void namesThatAreNotUtf8AreFoundByteForByte() {
        makeFolder(root_ + "/m\xE9tal");
        touch(root_ + "/m\xE9tal/\xE9t\xE9.mp3");
        const Paths found = search(root_, true);
        // Qt cannot remove names it cannot decode; the case cleans up itself.
        ::unlink((root_ + "/m\xE9tal/\xE9t\xE9.mp3").constData());
        ::rmdir((root_ + "/m\xE9tal").constData());
        QCOMPARE(found, Paths{root_ + "/m\xE9tal/\xE9t\xE9.mp3"});
    }
    void anEmptyFolderMeansTheCurrentFolderAndGivesBareNames() {
        touch(root_ + "/here.mp3");
        const QString old = QDir::currentPath();
        QVERIFY(QDir::setCurrent(QFile::decodeName(root_)));
        const Paths found = search("", false);
        QDir::setCurrent(old);
        QCOMPARE(found, Paths{"here.mp3"});
    }
    void aFolderThatCannotBeReadAddsNothing() {
        touch(root_ + "/file.mp3");
        QCOMPARE(search(root_ + "/missing", true), Paths{});
        QCOMPARE(search(root_ + "/file.mp3", true), Paths{});
    }

    // --- links and other kinds of entry ---
    void linksBackUpTheTreeEndAndEachFileIsFoundOnce() {
        const QByteArray a = root_ + "/A";
        makeFolder(a);
        makeFolder(a + "/B");
        touch(a + "/a1.mp3");
        touch(a + "/B/b1.mp3");
        makeLink(a, a + "/B/up");
        makeLink(".", a + "/B/self");
        makeLink("..", a + "/B/parent");
        const Paths found = search(a, true);
        QCOMPARE(sorted(found), (Paths{a + "/B/b1.mp3", a + "/a1.mp3"}));
    }
    void linksToFoldersAreNotFollowedAndLinksToFilesAreFiles() {
        const QByteArray outside = root_ + "/outside";
        makeFolder(outside);
        touch(outside + "/o1.mp3");
        const QByteArray a = root_ + "/A";
        makeFolder(a);
        makeLink(outside, a + "/linked");
        makeLink(outside + "/o1.mp3", a + "/alias.mp3");
        QCOMPARE(search(a, true), Paths{a + "/alias.mp3"});
        // The folder chosen may itself be a link.
        QCOMPARE(search(a + "/linked", true), Paths{a + "/linked/o1.mp3"});
    }
    void theKernelsFoldersAreNeverEntered() {
        makeLink("/proc", root_ + "/proc");
        makeLink("/proc/self/status", root_ + "/status.mp3");
        makeLink("/dev/null", root_ + "/null.mp3");
        touch(root_ + "/real.mp3");
        QCOMPARE(search(root_, true), Paths{root_ + "/real.mp3"});
        for (const QByteArray kernel : {"/proc", "/sys", "/dev", "/dev/", "//proc", "/sys/kernel"})
            QCOMPARE(search(kernel, true), Paths());
    }
    void aSearchOfTheRootAddsEveryRealFileOnce() {
        touch(root_ + "/real.mp3");
        const Paths found = search("/", true);
        if (!root_.contains("/."))
            QVERIFY(found.contains(root_ + "/real.mp3"));
        QCOMPARE(QSet<QByteArray>(found.begin(), found.end()).size(), found.size());
        for (const QByteArray& path : found) {
            QVERIFY2(!path.startsWith("/proc/") && !path.startsWith("/sys/") &&
                         !path.startsWith("/dev/"),
                     path.constData());
        }
    }
    void brokenLinksPipesAndSocketsAreNotFiles() {
        makeLink(root_ + "/gone.mp3", root_ + "/broken.mp3");
        QVERIFY(::mkfifo((root_ + "/pipe.mp3").constData(), 0600) == 0);
        touch(root_ + "/real.mp3");
        QCOMPARE(search(root_, true), Paths{root_ + "/real.mp3"});
        QCOMPARE(FolderFiles(root_), (std::vector<QByteArray>{root_ + "/real.mp3"}));
    }

    // --- one level, for drops ---
    void folderFilesAreTheFilesDirectlyInsideInNameOrder() {
        makeFolder(root_ + "/sub");
        touch(root_ + "/sub/deep.mp3");
        touch(root_ + "/y.txt");
        touch(root_ + "/z.wav");
        touch(root_ + "/x.mp3");
        makeLink(root_ + "/x.mp3", root_ + "/w.mp3");
        QCOMPARE(FolderFiles(root_), (std::vector<QByteArray>{root_ + "/w.mp3", root_ + "/x.mp3",
                                                              root_ + "/y.txt", root_ + "/z.wav"}));
        QVERIFY(FolderFiles(root_ + "/missing").empty());
    }
    void isFolderFollowsLinksAndAnswersTheFallbackForMissingPaths() {
        touch(root_ + "/f.mp3");
        makeLink(root_, root_ + "/link");
        QVERIFY(IsFolder(root_, false));
        QVERIFY(IsFolder(root_ + "/link", false));
        QVERIFY(!IsFolder(root_ + "/f.mp3", true));
        QVERIFY(IsFolder(root_ + "/missing", true));
        QVERIFY(!IsFolder(root_ + "/missing", false));
    }
};

QTEST_GUILESS_MAIN(MediaSearchTest)
#include "tst_mediasearch.moc"
