// Reading a track's tags and cover, as the media controls ask for them at
// every track change: ReadTrackInfo on an MP3 with ID3v2 tags and a 300 KiB
// cover, a WMA with ASF tags and a WAV with RIFF INFO (the test media,
// tagged here by TagLib), the first read (which writes the cover into the
// cache) and the median of later reads; what a request costs the window's
// thread and how long until its answer comes; and gst-discoverer-1.0 on the
// same file, which reads the tags the way the playing pipeline does.
// Run under tools/with-test-env, which makes the test media.

#include "trackinfo/core/TrackInfoReader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <taglib/asffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>
#include <taglib/mpegfile.h>
#include <taglib/wavfile.h>
#include <vector>

namespace {

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double ms(const QElapsedTimer& timer) {
    return double(timer.nsecsElapsed()) / 1e6;
}

double discovererMs(const QByteArray& path) {
    std::vector<double> runs;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer timer;
        timer.start();
        QProcess discoverer;
        discoverer.setProcessChannelMode(QProcess::MergedChannels);
        discoverer.start(QStringLiteral("gst-discoverer-1.0"), {QFile::decodeName(path)});
        discoverer.waitForFinished(-1);
        discoverer.readAll();
        runs.push_back(ms(timer));
    }
    return median(runs);
}

QByteArray tagged(const QString& media, const QString& folder) {
    const QString source = qEnvironmentVariable("TOLVANE_TEST_MEDIA") + u'/' + media;
    const QString target = folder + u'/' + media;
    if (!QFile::copy(source, target))
        qFatal("no test media %s (run under tools/with-test-env)", qPrintable(source));
    const QByteArray path = QFile::encodeName(target);
    if (media.endsWith(u".mp3")) {
        TagLib::MPEG::File file(path.constData());
        TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
        tag->setTitle("Title");
        tag->setArtist("Artist");
        tag->setAlbum("Album");
        auto* cover = new TagLib::ID3v2::AttachedPictureFrame;
        cover->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
        cover->setMimeType("image/jpeg");
        cover->setPicture(TagLib::ByteVector("\xff\xd8\xff\xe0", 4) +
                          TagLib::ByteVector(300 * 1024, 'j'));
        tag->addFrame(cover);
        file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers);
    } else if (media.endsWith(u".wma")) {
        TagLib::ASF::File file(path.constData());
        file.tag()->setTitle("Title");
        file.tag()->setArtist("Artist");
        file.tag()->setAlbum("Album");
        file.save();
    } else {
        TagLib::RIFF::WAV::File file(path.constData());
        file.InfoTag()->setTitle("Title");
        file.InfoTag()->setArtist("Artist");
        file.InfoTag()->setAlbum("Album");
        file.save(TagLib::RIFF::WAV::File::Info);
    }
    return path;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    const QByteArray cache = QFile::encodeName(folder.filePath(QStringLiteral("cache")));
    std::printf("%-10s %12s %14s %14s %14s %16s\n", "file", "first (ms)", "median (ms)",
                "request (ms)", "answer (ms)", "discoverer (ms)");
    for (const QString& media :
         {QStringLiteral("long.mp3"), QStringLiteral("tone.wma"), QStringLiteral("tone.wav")}) {
        const QByteArray path = tagged(media, folder.path());
        QElapsedTimer timer;
        timer.start();
        const TrackInfo first = ReadTrackInfo(path, cache);
        const double firstMs = ms(timer);
        if (first.Tags.Title != QLatin1String("Title"))
            qFatal("%s: no tags read", path.constData());
        std::vector<double> reads;
        for (int i = 0; i < 50; ++i) {
            timer.start();
            ReadTrackInfo(path, cache);
            reads.push_back(ms(timer));
        }
        std::vector<double> requests, answers;
        TrackInfoReader reader(cache);
        for (int i = 0; i < 20; ++i) {
            bool answered = false;
            QObject::connect(
                &reader, &TrackInfoReader::Ready, &app, [&] { answered = true; },
                Qt::SingleShotConnection);
            timer.start();
            reader.Read(path);
            requests.push_back(ms(timer));
            while (!answered)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            answers.push_back(ms(timer));
        }
        std::printf("%-10s %12.2f %14.2f %14.3f %14.2f %16.1f\n", qPrintable(media), firstMs,
                    median(reads), median(requests), median(answers), discovererMs(path));
    }
    return 0;
}
