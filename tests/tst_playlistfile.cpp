#include "TestSupport.h"

#include "playlist/core/AutomaticPlaylist.h"
#include "playlist/core/PlaylistFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using Lines = QList<QByteArray>;

namespace {

void writeBytes(const QByteArray& path, const QByteArray& bytes) {
    QFile file(QFile::decodeName(path));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray readBytes(const QByteArray& path) {
    QFile file(QFile::decodeName(path));
    if (!file.open(QIODevice::ReadOnly))
        return "<unreadable>";
    return file.readAll();
}

Lines toList(const PathList& lines) {
    return Lines(lines.begin(), lines.end());
}

std::vector<QByteArray> toVector(const Lines& lines) {
    return {lines.begin(), lines.end()};
}

QString errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const EFileError& error) {
        return QString::fromUtf8(error.what());
    }
    return QStringLiteral("<no error>");
}

QStringList entriesOf(const QString& folder) {
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

mode_t modeOf(const QByteArray& path) {
    struct stat st {};
    ::stat(path.constData(), &st);
    return st.st_mode & 07777;
}

using TestSupport::FileSizeLimit;

} // namespace

class PlaylistFileTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QByteArray path(const char* name) const { return QFile::encodeName(dir_.filePath(name)); }

private slots:
    // --- writing ---
    void twoPathsAreWrittenAsTheirTwentySixBytesEachEndingWithCrLf() {
        SaveListFile(path("two.plf"), {"C:\\Music\\a.mp3", "D:\\b.wav"});
        const QByteArray bytes = readBytes(path("two.plf"));
        QCOMPARE(bytes, QByteArray("C:\\Music\\a.mp3\r\nD:\\b.wav\r\n"));
        QCOMPARE(bytes.size(), 26);
    }
    void emptyPlaylistIsWrittenAsAnEmptyFileAndReadBackEmpty() {
        writeBytes(path("empty.plf"), "old content\r\n");
        SaveListFile(path("empty.plf"), {});
        QCOMPARE(QFileInfo(dir_.filePath("empty.plf")).size(), 0);
        QVERIFY(ReadListFile(path("empty.plf")).empty());
    }
    void savingReplacesTheWholeOfALongerFile() {
        writeBytes(path("long.plf"), QByteArray(5000, 'x'));
        SaveListFile(path("long.plf"), {"/a.mp3"});
        QCOMPARE(readBytes(path("long.plf")), QByteArray("/a.mp3\r\n"));
    }
    void emptyPathsAndBlanksAreWrittenAsTheyAre() {
        SaveListFile(path("blank.plf"), {"", " /a b.mp3 ", "\t"});
        QCOMPARE(readBytes(path("blank.plf")), QByteArray("\r\n /a b.mp3 \r\n\t\r\n"));
    }

    // --- reading ---
    void linesAreSplitByTheLineEndRules_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<Lines>("lines");
        QTest::newRow("CR LF") << QByteArray("a\r\nb\r\n") << Lines{"a", "b"};
        QTest::newRow("LF alone") << QByteArray("a\nb\nc\n") << Lines{"a", "b", "c"};
        QTest::newRow("CR alone") << QByteArray("a\rb\rc\r") << Lines{"a", "b", "c"};
        QTest::newRow("LF then CR ends two lines") << QByteArray("a\n\rb") << Lines{"a", "", "b"};
        QTest::newRow("CR then CR LF") << QByteArray("a\r\r\nb") << Lines{"a", "", "b"};
        QTest::newRow("last line without end") << QByteArray("a\r\nb") << Lines{"a", "b"};
        QTest::newRow("final line end adds no line") << QByteArray("a\r\n") << Lines{"a"};
        QTest::newRow("two final line ends") << QByteArray("a\n\n") << Lines{"a", ""};
        QTest::newRow("only a line end") << QByteArray("\r\n") << Lines{""};
        QTest::newRow("empty line between") << QByteArray("a\r\n\r\nb\r\n") << Lines{"a", "", "b"};
        QTest::newRow("blanks kept") << QByteArray("  a b \r\n\t\r\n") << Lines{"  a b ", "\t"};
        QTest::newRow("no text") << QByteArray() << Lines{};
        QTest::newRow("NUL inside a line") << QByteArray("a\r\nb\0c\r\nd", 10) << Lines{"a", "b"};
        QTest::newRow("NUL first") << QByteArray("\0a\r\n", 4) << Lines{};
        QTest::newRow("NUL after a line end") << QByteArray("a\r\n\0b", 5) << Lines{"a"};
        QTest::newRow("CR before NUL") << QByteArray("a\r\0\nb", 5) << Lines{"a"};
        QTest::newRow("other extension's text") << QByteArray("x;y\r\n") << Lines{"x;y"};
    }
    void linesAreSplitByTheLineEndRules() {
        QFETCH(QByteArray, text);
        QFETCH(Lines, lines);
        QCOMPARE(toList(SplitListText(text.constData(), size_t(text.size()))), lines);
        writeBytes(path("rules.txt"), text);
        QCOMPARE(toList(ReadListFile(path("rules.txt"))), lines);
    }
    // A large file is read in pieces; a line end that a piece boundary cuts
    // in two (CR | LF) must still count once, wherever the boundaries lie:
    // the text split as a whole is the answer.
    void aFileReadInPiecesSplitsAsItsWholeText_data() {
        QTest::addColumn<QByteArray>("text");
        const auto repeated = [](const QByteArray& head, const QByteArray& unit) {
            QByteArray text = head;
            while (text.size() < (3 << 20))
                text += unit;
            return text;
        };
        // CR at every odd offset, LF at every even one: whatever the piece
        // size, a piece that ends at an even offset ends on a CR.
        QTest::newRow("CR LF") << repeated("a", "\r\n");
        QTest::newRow("LF CR") << repeated("a", "\n\r");
        QTest::newRow("CR CR") << repeated("a", "\r\rb");
        QByteArray mixed;
        quint32 seed = 1;
        while (mixed.size() < (3 << 20)) {
            seed = seed * 1103515245u + 12345u;
            mixed += QByteArray(int(seed >> 16) % 90, 'p');
            const char* const ends[] = {"\r\n", "\n", "\r", "\n\r", "\r\r\n"};
            mixed += ends[(seed >> 8) % 5];
        }
        QTest::newRow("mixed") << mixed;
        QByteArray cut = mixed;
        cut[(2 << 20) + 5] = '\0';
        QTest::newRow("NUL past two MiB") << cut;
    }
    void aFileReadInPiecesSplitsAsItsWholeText() {
        QFETCH(QByteArray, text);
        writeBytes(path("pieces.plf"), text);
        bool cutShort = false;
        const Lines read = toList(ReadListFile(path("pieces.plf"), &cutShort));
        QCOMPARE(read, toList(SplitListText(text.constData(), size_t(text.size()))));
        QCOMPARE(cutShort, text.contains('\0'));
    }
    void onlyRegularFilesAreRead() {
        // A device may never end (/dev/zero) and a pipe may never be
        // written: neither is read, and neither keeps the window waiting.
        QVERIFY(::mkfifo(path("pipe.plf").constData(), 0600) == 0);
        for (const QByteArray& device : {QByteArray("/dev/zero"), path("pipe.plf")})
            QCOMPARE(errorOf([&] { ReadListFile(device); }),
                     QStringLiteral("Cannot open file \"%1\". Not a regular file")
                         .arg(QString::fromUtf8(device)));
    }

    // --- round trips ---
    void namesThatAreNotUtf8RoundTripByteForByte() {
        const Lines names = {"/m\xE9tal/\xE9t\xE9.mp3", "/\xFF\xFE.wav", "/bad\xC3(.mid", "",
                             "/ok/\xC3\xA9.mp3"};
        SaveListFile(path("bytes.plf"), toVector(names));
        QByteArray expected;
        for (const QByteArray& name : names)
            expected += name + "\r\n";
        QCOMPARE(readBytes(path("bytes.plf")), expected);
        QCOMPARE(toList(ReadListFile(path("bytes.plf"))), names);
    }
    void aListLargerThanOneWriteRoundTripsInOrder() {
        Lines names;
        for (int i = 0; i < 60000; ++i)
            names << "/music/" + QByteArray(i % 53, 'a' + char(i % 26)) + '/' +
                         QByteArray::number(i) + ".mp3";
        SaveListFile(path("large.plf"), toVector(names));
        QVERIFY(QFileInfo(dir_.filePath("large.plf")).size() > (1 << 20));
        QCOMPARE(toList(ReadListFile(path("large.plf"))), names);
    }

    // --- failures ---
    void aMissingFileCannotBeOpened() {
        const QByteArray missing = path("missing.plf");
        QCOMPARE(errorOf([&] { ReadListFile(missing); }),
                 QStringLiteral("Cannot open file \"%1\". No such file or directory")
                     .arg(QString::fromUtf8(missing)));
    }
    void aFolderCannotBeOpenedAsAPlaylist() {
        QVERIFY(QDir(dir_.path()).mkpath("folder.plf"));
        QCOMPARE(errorOf([&] { ReadListFile(path("folder.plf")); }),
                 QStringLiteral("Cannot open file \"%1\". Is a directory")
                     .arg(dir_.filePath("folder.plf")));
    }
    void aFileInAMissingFolderCannotBeCreated() {
        const QByteArray target = path("nowhere/list.plf");
        QCOMPARE(errorOf([&] { SaveListFile(target, {"/a.mp3"}); }),
                 QStringLiteral("Cannot create file \"%1\". No such file or directory")
                     .arg(QString::fromUtf8(target)));
    }
    void aFolderCannotBeReplacedByAPlaylistAndNothingIsLeftBehind() {
        QTemporaryDir folder;
        QVERIFY(QDir(folder.path()).mkpath("taken.plf"));
        const QByteArray target = QFile::encodeName(folder.filePath("taken.plf"));
        QCOMPARE(errorOf([&] { SaveListFile(target, {"/a.mp3"}); }),
                 QStringLiteral("Cannot create file \"%1\". Is a directory")
                     .arg(QString::fromUtf8(target)));
        QCOMPARE(entriesOf(folder.path()), QStringList{"taken.plf"});
        QVERIFY(QFileInfo(QFile::decodeName(target)).isDir());
    }
    void aWriteThatRunsOutOfSpaceKeepsTheOldFileAndLeavesNothingBehind() {
        QTemporaryDir folder;
        const QByteArray target = QFile::encodeName(folder.filePath("kept.plf"));
        const QByteArray old = "/old/one.mp3\r\n/old/two.mp3\r\n";
        writeBytes(target, old);
        std::vector<QByteArray> many(500, "/a/rather/long/path/to/some/song.mp3");
        QString error;
        {
            FileSizeLimit limit(100);
            error = errorOf([&] { SaveListFile(target, many); });
        }
        QCOMPARE(error, QStringLiteral("Cannot create file \"%1\". File too large")
                            .arg(QString::fromUtf8(target)));
        QCOMPARE(readBytes(target), old);
        QCOMPARE(entriesOf(folder.path()), QStringList{"kept.plf"});
    }

    void onlyARegularFileIsEverReplaced_data() {
        QTest::addColumn<QByteArray>("kind");
        QTest::addColumn<bool>("throughLink");
        for (const char* kind : {"pipe", "device"}) {
            QTest::addRow("%s", kind) << QByteArray(kind) << false;
            QTest::addRow("link to %s", kind) << QByteArray(kind) << true;
        }
    }
    void onlyARegularFileIsEverReplaced() {
        QFETCH(QByteArray, kind);
        QFETCH(bool, throughLink);
        QTemporaryDir folder;
        const QByteArray node = QFile::encodeName(folder.filePath("node"));
        if (kind == "pipe") {
            QVERIFY(::mkfifo(node.constData(), 0600) == 0);
        } else if (::mknod(node.constData(), S_IFCHR | 0600, makedev(1, 3)) != 0) {
            QSKIP("making a device node (the null device) needs root");
        }
        QByteArray target = node;
        if (throughLink) {
            target = QFile::encodeName(folder.filePath("list.plf"));
            QVERIFY(::symlink(node.constData(), target.constData()) == 0);
        }
        const QStringList before = entriesOf(folder.path());
        QCOMPARE(errorOf([&] { SaveListFile(target, {"/a.mp3"}); }),
                 QStringLiteral("Cannot create file \"%1\". Not a regular file")
                     .arg(QString::fromUtf8(target)));
        struct stat st {};
        QVERIFY(::lstat(node.constData(), &st) == 0);
        QVERIFY(kind == "pipe" ? S_ISFIFO(st.st_mode) : S_ISCHR(st.st_mode));
        QCOMPARE(entriesOf(folder.path()), before);
    }

    // --- leftovers ---
    void leftoversOfInterruptedSavesGoAtTheNextStartHoweverYoung() {
        QTemporaryDir folder;
        const QByteArray base = QFile::encodeName(folder.path()) + '/';
        // Written this very moment and a second from now (a clock set back).
        const QStringList stale = {".PlayList.plf.aB3dE6gH", ".PlayList.plf.bak.Zz09yY8x"};
        const QStringList kept = {".PlayList.plf.saving12", ".PlayList.plf.toolong12",
                                  ".Other.plf.aB3dE6gH", "PlayList.plf"};
        for (const QString& name : stale + kept)
            writeBytes(base + name.toUtf8(), "x");
        timespec soon{};
        ::clock_gettime(CLOCK_REALTIME, &soon);
        soon.tv_sec += 1;
        const timespec times[2] = {soon, soon};
        QVERIFY(::utimensat(AT_FDCWD, (base + stale[1].toUtf8()).constData(), times, 0) == 0);
        // Another copy that is saving right now, or that froze while saving,
        // holds its temporary file locked.
        const int saving = ::open((base + ".PlayList.plf.saving12").constData(), O_RDWR);
        QVERIFY(saving >= 0 && ::flock(saving, LOCK_EX | LOCK_NB) == 0);
        AutomaticPlaylist(QFile::encodeName(folder.path())).RemoveLeftovers();
        ::close(saving);
        QStringList expected = kept;
        expected.sort();
        QCOMPARE(entriesOf(folder.path()), expected);
    }
    void aSaveThatRunsOutOfMemoryLeavesNothingBehind() {
        QTemporaryDir folder;
        const QByteArray target = QFile::encodeName(folder.filePath("kept.plf"));
        writeBytes(target, "/old.mp3\r\n");
        // One line too long for the address space left: building the write
        // buffer throws after the temporary file was made.
        const PathList lines = {QByteArray(128 << 20, 'a')};
        rlimit old{};
        ::getrlimit(RLIMIT_AS, &old);
        QFile statm(QStringLiteral("/proc/self/statm"));
        QVERIFY(statm.open(QIODevice::ReadOnly));
        const rlim_t used = rlim_t(statm.readAll().split(' ').first().toULongLong()) *
                            rlim_t(::sysconf(_SC_PAGESIZE));
        rlimit tight = old;
        tight.rlim_cur = used + (32 << 20);
        QVERIFY(::setrlimit(RLIMIT_AS, &tight) == 0);
        bool outOfMemory = false;
        try {
            SaveListFile(target, lines);
        } catch (const std::bad_alloc&) {
            outOfMemory = true;
        }
        ::setrlimit(RLIMIT_AS, &old);
        QVERIFY(outOfMemory);
        QCOMPARE(readBytes(target), QByteArray("/old.mp3\r\n"));
        QCOMPARE(entriesOf(folder.path()), QStringList{"kept.plf"});
    }

    // --- what replacing keeps ---
    void replacingAFileKeepsItsMode() {
        writeBytes(path("mode.plf"), "x\r\n");
        QVERIFY(::chmod(path("mode.plf").constData(), 0640) == 0);
        SaveListFile(path("mode.plf"), {"/a.mp3"});
        QCOMPARE(modeOf(path("mode.plf")), mode_t(0640));
    }
    void aNewFileGetsTheAskedModeLessTheUmask() {
        const mode_t oldMask = ::umask(022);
        SaveListFile(path("new.plf"), {"/a.mp3"});
        SaveListFile(path("private.plf"), {"/a.mp3"}, 0600);
        ::umask(oldMask);
        QCOMPARE(modeOf(path("new.plf")), mode_t(0644));
        QCOMPARE(modeOf(path("private.plf")), mode_t(0600));
    }
    void savingThroughALinkReplacesTheFileItPointsTo() {
        writeBytes(path("real.plf"), "old\r\n");
        QVERIFY(QFile::link(dir_.filePath("real.plf"), dir_.filePath("link.plf")));
        SaveListFile(path("link.plf"), {"/new.mp3"});
        QVERIFY(QFileInfo(dir_.filePath("link.plf")).isSymLink());
        QCOMPARE(readBytes(path("real.plf")), QByteArray("/new.mp3\r\n"));
    }
};

QTEST_GUILESS_MAIN(PlaylistFileTest)
#include "tst_playlistfile.moc"
