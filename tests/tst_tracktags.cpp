// Tags and cover pictures as the desktop learns them. The test media of
// tests/make-media carry no tags; each case copies one and has TagLib write
// the tags other programs write, so that the files look as a collection's do.

#include "TestSupport.h"
#include "trackinfo/core/CoverArt.h"
#include "trackinfo/core/Id3v1.h"
#include "trackinfo/core/TrackInfoReader.h"
#include "trackinfo/core/TrackTags.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <taglib/asffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tpropertymap.h>
#include <taglib/wavfile.h>

using namespace Qt::StringLiterals;

namespace {

TagLib::String utf8(const char* text) {
    return TagLib::String(text, TagLib::String::UTF8);
}

TagLib::ByteVector bytes(const QByteArray& data) {
    return TagLib::ByteVector(data.constData(), static_cast<unsigned int>(data.size()));
}

// A small picture of one colour, as an encoder writes it.
QByteArray picture(const char* format, QRgb colour) {
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return data;
}

mode_t modeOf(const QByteArray& path) {
    struct stat info {};
    return ::stat(path.constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

int filesIn(const QByteArray& folder) {
    return int(QDir(QFile::decodeName(folder)).entryList(QDir::Files | QDir::Hidden).size());
}

} // namespace

class TrackTagsTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    const QByteArray cover = picture("JPG", qRgb(200, 30, 30));

    QByteArray copy(const QString& media, const QString& name) {
        const QByteArray source = TestSupport::Media(media);
        const QString target = dir.filePath(name);
        QFile::remove(target);
        if (!QFile::copy(QFile::decodeName(source), target))
            qFatal("cannot copy %s", source.constData());
        return QFile::encodeName(target);
    }
    QByteArray cacheFolder(const QString& name) {
        return QFile::encodeName(dir.filePath(name)) + "/cache/tolvane";
    }

    // An MP3 that carries ID3v2.4 alone, as current taggers write it, with
    // two artists and a front cover behind a picture of another kind.
    QByteArray taggedMp3() {
        const QByteArray path = copy(u"tone.mp3"_s, u"id3v2.mp3"_s);
        TagLib::MPEG::File file(path.constData());
        TagLib::PropertyMap properties;
        properties["TITLE"] = utf8("Fünf Töne");
        properties["ARTIST"] = TagLib::StringList(utf8("Ana")).append(utf8("Bo"));
        properties["ALBUM"] = utf8("Sine Waves");
        properties["ALBUMARTIST"] = utf8("Various");
        properties["TRACKNUMBER"] = utf8("7/12");
        properties["GENRE"] = utf8("Ambient");
        properties["DATE"] = utf8("2019-05-01");
        file.setProperties(properties);
        auto* back = new TagLib::ID3v2::AttachedPictureFrame;
        back->setType(TagLib::ID3v2::AttachedPictureFrame::BackCover);
        back->setMimeType("image/png");
        back->setPicture(bytes(picture("PNG", qRgb(0, 0, 255))));
        file.ID3v2Tag(true)->addFrame(back);
        auto* front = new TagLib::ID3v2::AttachedPictureFrame;
        front->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
        front->setMimeType("image/jpeg");
        front->setPicture(bytes(cover));
        file.ID3v2Tag(true)->addFrame(front);
        if (!file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers))
            qFatal("cannot tag %s", path.constData());
        return path;
    }

private slots:
    void initTestCase() {
        QVERIFY(dir.isValid());
        QVERIFY(PictureExtension(cover) == "jpg");
    }

    void mp3WithOnlyId3v2GivesEveryTextAndTheFrontCover() {
        const QByteArray path = taggedMp3();
        QCOMPARE(ReadId3v1Tag(path), Id3v1Info{}); // no version 1 to fall back on
        QByteArray embedded;
        const TrackTags tags = ReadTrackTags(path, &embedded);
        QCOMPARE(tags.Title, u"Fünf Töne"_s);
        QCOMPARE(tags.Artists, (QStringList{u"Ana"_s, u"Bo"_s}));
        QCOMPARE(tags.Album, u"Sine Waves"_s);
        QCOMPARE(tags.AlbumArtists, QStringList{u"Various"_s});
        QCOMPARE(tags.TrackNumber, 7);
        QCOMPARE(tags.Genres, QStringList{u"Ambient"_s});
        QCOMPARE(tags.Year, 2019);
        QVERIFY(tags.LengthMs > 0);
        QCOMPARE(embedded, cover);
    }

    void mp3WithOnlyId3v1GivesItsTexts() {
        const QByteArray path = copy(u"tone.mp3"_s, u"id3v1.mp3"_s);
        {
            TagLib::MPEG::File file(path.constData());
            file.ID3v1Tag(true)->setTitle("Old Title");
            file.ID3v1Tag(true)->setArtist("Old Artist");
            file.ID3v1Tag(true)->setGenre("Pop");
            QVERIFY(file.save(TagLib::MPEG::File::ID3v1, TagLib::File::StripOthers));
        }
        QByteArray embedded = "left over";
        const TrackTags tags = ReadTrackTags(path, &embedded);
        QCOMPARE(tags.Title, u"Old Title"_s);
        QCOMPARE(tags.Artists, QStringList{u"Old Artist"_s});
        QCOMPARE(tags.Genres, QStringList{u"Pop"_s});
        QVERIFY(embedded.isEmpty());
    }

    void wmaWithAsfTagsGivesEveryTextAndItsPicture() {
        const QByteArray path = copy(u"tone.wma"_s, u"asf.wma"_s);
        {
            TagLib::ASF::File file(path.constData());
            TagLib::ASF::Tag* tag = file.tag();
            tag->setTitle(utf8("Windows Tune"));
            tag->setArtist(utf8("Média Artist"));
            tag->setAlbum(utf8("Ninety-Eight"));
            tag->setAttribute("WM/AlbumArtist", utf8("The Band"));
            tag->setTrack(3);
            tag->setGenre(utf8("Jazz"));
            tag->setYear(1998);
            TagLib::ASF::Picture art;
            art.setType(TagLib::ASF::Picture::FrontCover);
            art.setMimeType("image/jpeg");
            art.setPicture(bytes(cover));
            tag->addAttribute("WM/Picture", TagLib::ASF::Attribute(art));
            QVERIFY(file.save());
        }
        QByteArray embedded;
        const TrackTags tags = ReadTrackTags(path, &embedded);
        QCOMPARE(tags.Title, u"Windows Tune"_s);
        QCOMPARE(tags.Artists, QStringList{u"Média Artist"_s});
        QCOMPARE(tags.Album, u"Ninety-Eight"_s);
        QCOMPARE(tags.AlbumArtists, QStringList{u"The Band"_s});
        QCOMPARE(tags.TrackNumber, 3);
        QCOMPARE(tags.Genres, QStringList{u"Jazz"_s});
        QCOMPARE(tags.Year, 1998);
        QVERIFY(qAbs(tags.LengthMs - 3000) < 100);
        QCOMPARE(embedded, cover);
    }

    void wavWithRiffInfoOrAnId3ChunkGivesItsTexts() {
        const QByteArray path = copy(u"tone.wav"_s, u"info.wav"_s);
        {
            TagLib::RIFF::WAV::File file(path.constData());
            TagLib::RIFF::Info::Tag* info = file.InfoTag();
            info->setTitle("Recorded Take");
            info->setArtist("Desk Microphone");
            info->setAlbum("Sessions");
            info->setGenre("Speech");
            info->setYear(2004);
            info->setTrack(2);
            QVERIFY(file.save(TagLib::RIFF::WAV::File::Info));
        }
        QByteArray embedded = "left over";
        const TrackTags tags = ReadTrackTags(path, &embedded);
        QCOMPARE(tags.Title, u"Recorded Take"_s);
        QCOMPARE(tags.Artists, QStringList{u"Desk Microphone"_s});
        QCOMPARE(tags.Album, u"Sessions"_s);
        QCOMPARE(tags.Genres, QStringList{u"Speech"_s});
        QCOMPARE(tags.Year, 2004);
        QCOMPARE(tags.TrackNumber, 2);
        QCOMPARE(tags.LengthMs, 3000);
        QVERIFY(embedded.isEmpty());

        // An ID3v2 chunk goes first; the INFO list fills what it leaves blank.
        const QByteArray both = copy(u"tone.wav"_s, u"both.wav"_s);
        {
            TagLib::RIFF::WAV::File file(both.constData());
            file.ID3v2Tag()->setTitle(utf8("Chunk Title"));
            file.InfoTag()->setTitle("Info Title");
            file.InfoTag()->setAlbum("Info Album");
            QVERIFY(file.save(TagLib::RIFF::WAV::File::AllTags));
        }
        const TrackTags merged = ReadTrackTags(both);
        QCOMPARE(merged.Title, u"Chunk Title"_s);
        QCOMPARE(merged.Album, u"Info Album"_s);
    }

    void brokenAndUnreadableFilesGiveEmptyTags() {
        const QByteArray fifo = QFile::encodeName(dir.filePath(u"pipe.mp3"_s));
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        // The tag texts may hold no line breaks or zero characters.
        const QByteArray hostile = copy(u"tone.mp3"_s, u"hostile.mp3"_s);
        {
            TagLib::MPEG::File file(hostile.constData());
            file.ID3v2Tag(true)->setTitle(TagLib::String(std::wstring(L"  line\nbreak\0here", 17) +
                                                         std::wstring(2000, L'x')));
            file.ID3v2Tag(true)->setArtist(utf8("   "));
            QVERIFY(file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers));
        }
        const TrackTags odd = ReadTrackTags(hostile);
        QVERIFY(odd.Title.startsWith(u"line break here"_s));
        QCOMPARE(odd.Title.size(), MaxTagTextLength);
        QVERIFY(odd.Artists.isEmpty());

        for (const QByteArray& path :
             {TestSupport::Media(u"random.mp3"_s), TestSupport::Media(u"empty.mp3"_s),
              TestSupport::Media(u"truncated.wav"_s), TestSupport::Media(u"text.avi"_s),
              TestSupport::Media(u"corrupt/noise.wma"_s), QFile::encodeName(dir.path()), fifo,
              QByteArray("/no/such/file.mp3"), QByteArray("with\0nul.mp3", 12), QByteArray()}) {
            QByteArray embedded = "left over";
            QVERIFY2(ReadTrackTags(path, &embedded).IsEmpty(), path.constData());
            QVERIFY(embedded.isEmpty());
        }
        // Damaged beyond the header: whatever is read, nothing breaks.
        QByteArray embedded;
        ReadTrackTags(TestSupport::Media(u"corrupt/flipped.wma"_s), &embedded);
        ReadTrackTags(TestSupport::Media(u"truncated.mp3"_s), &embedded);
        QFile tagged(QFile::decodeName(taggedMp3()));
        QVERIFY(tagged.open(QIODevice::ReadOnly));
        const QByteArray content = tagged.readAll();
        QVERIFY(ReadTrackTagsFromBytes(content.first(10), &embedded).IsEmpty());
        for (qsizetype cut : {qsizetype(100), content.size() / 3, content.size() - 1000})
            ReadTrackTagsFromBytes(content.first(cut), &embedded);
        QCOMPARE(ReadTrackTagsFromBytes(content).Title, u"Fünf Töne"_s);
    }

    // A Windows Media header that claims more than it holds (here a list of
    // 65535 records in an object of 26 bytes, its size beyond the header):
    // TagLib took a tenth of a second over these 609 bytes and found a title
    // and an artist in them. Such a header is damaged and gives no tags.
    void aWindowsMediaHeaderThatClaimsMoreThanItHoldsGivesNoTags() {
        const QByteArray damaged = QByteArray::fromHex(
            "3026b2758e66cf11a6d900aa0062ce6c1602000000000000050000000102a1dcab8c47a9cf118ee400c00c20"
            "5365680000000000000087d0803178df9f5377f3c8f35e713339e8cf0000000000006c9392db7286dd010b00"
            "000000000000558ac70400000000d599cc0100000000881300000000000002000000c0120000c012000000f4"
            "01009107dcb7b7a9cf118ee600c00c2053656a00000000000000409e69f84d5bcf11a8fd00805f5c442b0057"
            "fb20555bcf11a8fd00805f5c442b00000000000000001c000000000000000100000000006101020044ac0000"
            "803e0000e70200000a0000000000010000000000b503bf5f2ea9cf118ee300c00c205365ba00000000000000"
            "11d2d3abbaa9cf118ee600c00c20536506008c000000cba5e61472c632438399a96952065b5a580000000000"
            "00000000000000000000000000000000000000f40100000000000000000000f4010000000000000000000000"
            "00000000000001000000000000000000000000000000eacbf8c5af5b77488467aa8c44fa4cca1a0000000000"
            "00000000941c23449894d149a1411d134e4570541a0000000000000000003326b2758e66cf11a6d900aa0062"
            "ce6c52000000000000001400160002000200020041007300660020005400690074006c006500000041007300"
            "66002000410072007400690073007400000000000000000040a4d0d207e3d21197f000a0c95ea8501affffff"
            "ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff"
            "ffffffffffffffffffffffffffffffffffffffffffffffffffffffff000000000000000000");
        QCOMPARE(damaged.size(), 609);
        QVERIFY(ReadTrackTagsFromBytes(damaged).IsEmpty());
    }

    void pictureBesideTheFileIsFoundInAnyCase() {
        QTemporaryDir album;
        const QByteArray folder = QFile::encodeName(album.path());
        const QByteArray song = folder + "/song.wav";
        TestSupport::WriteFile(song, "RIFF");
        QCOMPARE(CoverArtUrl(song, {}, cacheFolder(u"beside"_s)), QByteArray());
        TestSupport::WriteFile(folder + "/Front.PNG", "x");
        QCOMPARE(PictureBesidePath(song), folder + "/Front.PNG");
        TestSupport::WriteFile(folder + "/FOLDER.jpeg", "x");
        QCOMPARE(PictureBesidePath(song), folder + "/FOLDER.jpeg");
        TestSupport::WriteFile(folder + "/Cover.JPG", "x");
        QCOMPARE(CoverArtUrl(song, {}, cacheFolder(u"beside"_s)),
                 "file://" + QUrl::toPercentEncoding(QFile::decodeName(folder), "/") +
                     "/Cover.JPG");
        // A folder of that name is no picture; an embedded picture goes first.
        QVERIFY(QFile::remove(album.filePath(u"Cover.JPG"_s)));
        QVERIFY(QDir(album.path()).mkdir(u"cover.jpg"_s));
        QCOMPARE(PictureBesidePath(song), folder + "/FOLDER.jpeg");
        QVERIFY(CoverArtUrl(song, cover, cacheFolder(u"beside"_s)).contains("/cache/tolvane/"));
    }

    void samePictureIsCachedOnceForTheUserAlone() {
        const QByteArray folder = cacheFolder(u"once"_s);
        QCOMPARE(CachedPicturePath("no picture at all", folder), QByteArray());
        const QByteArray first = CachedPicturePath(cover, folder);
        QVERIFY(first.startsWith(folder + '/'));
        QVERIFY(first.endsWith(".jpg"));
        QCOMPARE(CachedPicturePath(cover, folder), first);
        QCOMPARE(filesIn(folder), 1);
        QFile cached(QFile::decodeName(first));
        QVERIFY(cached.open(QIODevice::ReadOnly));
        QCOMPARE(cached.readAll(), cover);
        QCOMPARE(modeOf(first), mode_t(0600));
        QCOMPARE(modeOf(folder), mode_t(0700));
        QCOMPARE(modeOf(folder.chopped(8)), mode_t(0700)); // the cache folder made on the way
        const QByteArray png = CachedPicturePath(picture("PNG", qRgb(1, 2, 3)), folder);
        QVERIFY(png.endsWith(".png"));
        QCOMPARE(filesIn(folder), 2);
    }

    void cacheKeepsItsCapAndTheLatestPictures() {
        const QByteArray folder = cacheFolder(u"cap"_s);
        const auto numbered = [](int i) {
            return QByteArray("\xff\xd8\xff") + QByteArray::number(i);
        };
        const QByteArray kept = CachedPicturePath(numbered(0), folder);
        for (int i = 1; i < CoverCacheMaxFiles + 10; ++i) {
            QTest::qWait(2); // distinct times of use
            QVERIFY(!CachedPicturePath(numbered(i), folder).isEmpty());
            if (i % 8 == 0)
                QCOMPARE(CachedPicturePath(numbered(0), folder), kept); // used again
        }
        QCOMPARE(filesIn(folder), CoverCacheMaxFiles);
        QVERIFY(QFile::exists(QFile::decodeName(kept)));
        // The oldest picture not used again has gone.
        const QByteArray oldest =
            QCryptographicHash::hash(numbered(1), QCryptographicHash::Sha256).toHex() + ".jpg";
        QVERIFY(!QFile::exists(QFile::decodeName(folder + '/' + oldest)));
        // Large pictures: the bytes stay within the cap too.
        const QByteArray big = QByteArray("\x89PNG\r\n\x1a\n") + QByteArray(12 << 20, 'p');
        for (char c : {'a', 'b', 'c'})
            QVERIFY(!CachedPicturePath(big + c, folder).isEmpty());
        qint64 total = 0;
        for (const QFileInfo& file : QDir(QFile::decodeName(folder)).entryInfoList(QDir::Files))
            total += file.size();
        QVERIFY(total <= CoverCacheMaxBytes);
        QVERIFY(total > 2 * big.size());
    }

    void readerDeliversOnlyTheLatestRequestOnItsOwnThread() {
        TrackInfoReader reader(cacheFolder(u"reader"_s));
        QSignalSpy ready(&reader, &TrackInfoReader::Ready);
        const QByteArray mp3 = taggedMp3();
        const QByteArray wav = TestSupport::Media(u"tone.wav"_s);
        reader.Read(wav);
        reader.Read(mp3);
        QVERIFY(ready.wait(10000));
        QTest::qWait(200);
        QCOMPARE(ready.size(), 1);
        QCOMPARE(ready.at(0).at(0).toByteArray(), mp3);
        const auto info = ready.at(0).at(1).value<TrackInfo>();
        QCOMPARE(info.Tags.Title, u"Fünf Töne"_s);
        QVERIFY(info.ArtUrl.startsWith("file://" + QUrl::toPercentEncoding(dir.path(), "/")));
        QVERIFY(info.ArtUrl.endsWith(".jpg"));
    }
};

QTEST_GUILESS_MAIN(TrackTagsTest)
#include "tst_tracktags.moc"
