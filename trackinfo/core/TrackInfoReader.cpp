#include "trackinfo/core/TrackInfoReader.h"

#include "trackinfo/core/CoverArt.h"

#include <QMutexLocker>

TrackInfo ReadTrackInfo(const QByteArray& path, const QByteArray& cacheFolder) {
    TrackInfo info;
    QByteArray picture;
    info.Tags = ReadTrackTags(path, &picture);
    info.ArtUrl = CoverArtUrl(path, picture, cacheFolder);
    return info;
}

TrackInfoReader::TrackInfoReader(QByteArray cacheFolder, QObject* parent)
    : QObject(parent), cacheFolder_(std::move(cacheFolder)), worker_(new QObject) {
    thread_.setObjectName(QStringLiteral("track info"));
    worker_->moveToThread(&thread_);
}

TrackInfoReader::~TrackInfoReader() {
    {
        QMutexLocker lock(&mutex_);
        pendingSerial_ = 0;
    }
    thread_.quit();
    thread_.wait();
    delete worker_;
}

void TrackInfoReader::Read(const QByteArray& path) {
    {
        QMutexLocker lock(&mutex_);
        pendingPath_ = path;
        pendingSerial_ = ++latestSerial_;
    }
    // Started at the first track, so that a player that plays nothing keeps
    // no thread.
    if (!thread_.isRunning())
        thread_.start(QThread::LowPriority);
    QMetaObject::invokeMethod(
        worker_, [this] { Work(); }, Qt::QueuedConnection);
}

// On the reading thread. Several calls may be queued for one request; the
// first takes it and the others find nothing left.
void TrackInfoReader::Work() {
    QByteArray path;
    quint64 serial = 0;
    {
        QMutexLocker lock(&mutex_);
        path = std::exchange(pendingPath_, {});
        serial = std::exchange(pendingSerial_, 0);
    }
    if (serial == 0)
        return;
    const TrackInfo info = ReadTrackInfo(path, cacheFolder_);
    QMetaObject::invokeMethod(
        this,
        [this, path, serial, info] {
            if (serial == latestSerial_)
                emit Ready(path, info);
        },
        Qt::QueuedConnection);
}
