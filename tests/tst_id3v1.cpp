#include "trackinfo/core/Id3v1.h"
#include "trackinfo/core/ReadOnlyFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <sys/stat.h>

namespace {

// A tag block built field by field; every byte not set is zero.
struct TagBlock {
    QByteArray bytes = QByteArray("TAG") + QByteArray(125, '\0');

    TagBlock& at(int offset, const QByteArray& value) {
        bytes.replace(offset, value.size(), value);
        return *this;
    }
    TagBlock& title(const QByteArray& v) { return at(3, v); }
    TagBlock& artist(const QByteArray& v) { return at(33, v); }
    TagBlock& album(const QByteArray& v) { return at(63, v); }
    TagBlock& year(const QByteArray& v) { return at(93, v); }
    TagBlock& comment(const QByteArray& v) { return at(97, v); }
    TagBlock& genre(unsigned char g) { return at(127, QByteArray(1, char(g))); }
};

int openDescriptorCount() {
    return int(QDir(QStringLiteral("/proc/self/fd")).count());
}

} // namespace

class Id3v1Test : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

    QByteArray write(const QByteArray& name, const QByteArray& content) {
        const QByteArray path = QFile::encodeName(dir.path()) + '/' + name;
        // By the path's bytes: a name that is not UTF-8 must not be decoded.
        std::FILE* file = std::fopen(path.constData(), "wb");
        if (!file || std::fwrite(content.constData(), 1, size_t(content.size()), file) !=
                         size_t(content.size()))
            qFatal("cannot write %s", path.constData());
        std::fclose(file);
        return path;
    }
    // A file of some "audio" bytes followed by the tag.
    Id3v1Info read(const TagBlock& tag) {
        return ReadId3v1Tag(write("song.mp3", QByteArray(4000, 'x') + tag.bytes));
    }

private slots:
    // QTemporaryDir cannot remove a name that is not UTF-8 by itself.
    void cleanupTestCase() {
        std::remove((QFile::encodeName(dir.path()) + "/na\xefve-\xff.mp3").constData());
    }

    void allZeroTagGivesBluesAndFiveEmptyTexts() {
        const Id3v1Info info = read(TagBlock());
        QCOMPARE(info.Genre, QStringLiteral("Blues"));
        QVERIFY(info.Title.isEmpty() && info.Artist.isEmpty() && info.Album.isEmpty());
        QVERIFY(info.Year.isEmpty() && info.Comment.isEmpty());
    }

    void genreByteNamesItsGenre_data() {
        QTest::addColumn<int>("byte");
        QTest::addColumn<QString>("genre");
        QTest::newRow("0 first") << 0 << "Blues";
        QTest::newRow("12 the table's Other") << 12 << "Other";
        QTest::newRow("79 last of the format's list") << 79 << "Hard Rock";
        QTest::newRow("80 first of the extension") << 80 << "Folk";
        QTest::newRow("147 last") << 147 << "Synthpop";
        QTest::newRow("148 past the table") << 148 << "Other";
        QTest::newRow("200 past the table") << 200 << "Other";
        QTest::newRow("255 past the table") << 255 << "Other";
    }
    void genreByteNamesItsGenre() {
        QFETCH(int, byte);
        QFETCH(QString, genre);
        QCOMPARE(read(TagBlock().genre(uchar(byte))).Genre, genre);
    }

    void genreTableHasEveryNameSpelledAsKnown() {
        for (const char* name : GenreNames)
            QVERIFY(name && *name);
        QCOMPARE(GenreName(14), QStringLiteral("R&B"));
        QCOMPARE(GenreName(29), QStringLiteral("Jazz+Funk"));
        QCOMPARE(GenreName(62), QStringLiteral("Pop/Funk"));
        QCOMPARE(GenreName(67), QStringLiteral("Psychadelic"));
        QCOMPARE(GenreName(93), QStringLiteral("Psychedelic Rock"));
        QCOMPARE(GenreName(127), QStringLiteral("Drum & Bass"));
        QCOMPARE(GenreName(133), QStringLiteral("Negerpunk"));
        QCOMPARE(GenreName(136), QStringLiteral("Christian Gangsta Rap"));
        QCOMPARE(GenreName(144), QStringLiteral("Trash Metal"));
    }

    void thirtyLetterTitleWithoutZeroByteGivesAllThirtyAndNoMore() {
        const QByteArray letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcd";
        const Id3v1Info info = read(TagBlock().title(letters).artist("Next field"));
        QCOMPARE(info.Title, QString::fromLatin1(letters));
        QCOMPARE(info.Artist, QStringLiteral("Next field"));
    }

    void fieldsKeepLeadingAndPaddingBlanks() {
        const Id3v1Info info = read(TagBlock()
                                        .title("Song" + QByteArray(26, ' '))
                                        .artist("  Lead")
                                        .album(QByteArray(30, ' '))
                                        .year("    "));
        QCOMPARE(info.Title, QStringLiteral("Song") + QString(26, u' '));
        QCOMPARE(info.Artist, QStringLiteral("  Lead"));
        QCOMPARE(info.Album, QString(30, u' '));
        QCOMPARE(info.Year, QStringLiteral("    "));
    }

    void yearIsFourCharactersOfText() {
        QCOMPARE(read(TagBlock().year("2013")).Year, QStringLiteral("2013"));
        QCOMPARE(read(TagBlock().year("c.99")).Year, QStringLiteral("c.99"));
    }

    void commentWithTrackNumberEndsAtTheZeroByte() {
        const QByteArray text = "twenty-eight characters long";
        QCOMPARE(text.size(), 28);
        const Id3v1Info info = read(TagBlock().comment(text + '\0' + char(7)));
        QCOMPARE(info.Comment, QString::fromLatin1(text));
    }

    void textAfterTheFirstZeroByteIsNotShown() {
        QCOMPARE(read(TagBlock().title(QByteArray("Left\0Hidden", 11))).Title,
                 QStringLiteral("Left"));
    }

    void bytesShowAsWindows1252Characters() {
        const Id3v1Info info = read(TagBlock().title("Caf\xe9 \x80 \x93q\x94").artist("\x81"));
        QCOMPARE(info.Title, QStringLiteral("Café € “q”"));
        QCOMPARE(info.Artist, QString(QChar(0x81)));
    }

    void markerIsComparedWithCase() {
        TagBlock lower;
        lower.at(0, "tag").title("Not a tag");
        TagBlock mixed;
        mixed.at(0, "Tag").title("Not a tag");
        QCOMPARE(read(lower), Id3v1Info());
        QCOMPARE(read(mixed), Id3v1Info());
    }

    void markerOnlyCountsInTheLast128Bytes() {
        const QByteArray content = TagBlock().title("Early").bytes + QByteArray(128, 'x');
        QCOMPARE(ReadId3v1Tag(write("early.mp3", content)), Id3v1Info());
    }

    void fileOfExactly128BytesIsOneWholeTag() {
        const QByteArray path = write("tag-only.mp3", TagBlock().title("Whole").genre(17).bytes);
        const Id3v1Info info = ReadId3v1Tag(path);
        QCOMPARE(info.Title, QStringLiteral("Whole"));
        QCOMPARE(info.Genre, QStringLiteral("Rock"));
    }

    void fileShorterThanATagHasNone() {
        // Begins with a marker and a title, but cannot hold a whole block.
        const QByteArray shortFile = TagBlock().title("Partial").genre(17).bytes.left(100);
        QCOMPARE(ReadId3v1Tag(write("short.mp3", shortFile)), Id3v1Info());
        QCOMPARE(ReadId3v1Tag(write("empty.mp3", QByteArray())), Id3v1Info());
    }

    void missingFileIsReportedAndGivesNoText() {
        QVERIFY_THROWS_EXCEPTION(EFOpenError,
                                 ReadId3v1Tag(QFile::encodeName(dir.path()) + "/no such file.mp3"));
    }

    void pathHoldingANulIsReportedNotCutShort() {
        const QByteArray tagged = write("cut.mp3", TagBlock().title("Other file").bytes);
        QVERIFY_THROWS_EXCEPTION(EFOpenError, ReadId3v1Tag(tagged + QByteArray(1, '\0') + "x"));
    }

    void folderAndPipeAreReportedWithoutWaiting() {
        const QByteArray folder = QFile::encodeName(dir.path()) + "/folder.mp3";
        QVERIFY(QDir().mkpath(QFile::decodeName(folder)));
        QVERIFY_THROWS_EXCEPTION(EFOpenError, ReadId3v1Tag(folder));
        // Opening a pipe for reading would wait for a writer forever.
        const QByteArray pipe = QFile::encodeName(dir.path()) + "/pipe.mp3";
        QCOMPARE(::mkfifo(pipe.constData(), 0600), 0);
        QVERIFY_THROWS_EXCEPTION(EFOpenError, ReadId3v1Tag(pipe));
        // A device is never read, whatever size it claims.
        QVERIFY_THROWS_EXCEPTION(EFOpenError, ReadId3v1Tag("/dev/zero"));
    }

    void nameThatIsNotUtf8IsOpenedByItsBytes() {
        const QByteArray path = write("na\xefve-\xff.mp3", TagBlock().title("Bytes").bytes);
        QCOMPARE(ReadId3v1Tag(path).Title, QStringLiteral("Bytes"));
    }

    void fileIsClosedAfterEveryOutcome() {
        const QByteArray tagged = write("tagged.mp3", TagBlock().title("T").bytes);
        const QByteArray untagged = write("plain.wav", QByteArray(500, 'w'));
        const QByteArray tiny = write("tiny.mid", "MThd");
        const QByteArray folder = QFile::encodeName(dir.path()) + "/closed-folder";
        QVERIFY(QDir().mkpath(QFile::decodeName(folder)));
        const int before = openDescriptorCount();
        for (int i = 0; i < 20; ++i) {
            ReadId3v1Tag(tagged);
            ReadId3v1Tag(untagged);
            ReadId3v1Tag(tiny);
            try {
                ReadId3v1Tag(folder); // opened, then refused
            } catch (const EFOpenError&) {
            }
        }
        QCOMPARE(openDescriptorCount(), before);
    }
};

QTEST_GUILESS_MAIN(Id3v1Test)
#include "tst_id3v1.moc"
