#pragma once

#include "trackinfo/core/TrackTags.h"

#include <QByteArray>
#include <QMetaType>
#include <QMutex>
#include <QObject>
#include <QThread>

// All the desktop learns of a track from its file: the tags and the URL of
// its cover picture (empty when it has none).
struct TrackInfo {
    TrackTags Tags;
    QByteArray ArtUrl;

    bool operator==(const TrackInfo&) const = default;
};
Q_DECLARE_METATYPE(TrackInfo)

// Reads the tags and the cover of the file at `path`, writing an embedded
// picture into `cacheFolder` (CoverArt.h). Never throws.
TrackInfo ReadTrackInfo(const QByteArray& path, const QByteArray& cacheFolder);

// Reads track information on a thread of its own, so that a file on a slow
// disk or a large picture never holds up the windows. Only the latest
// request counts: one that has not begun when the next comes is dropped, and
// the result of one overtaken while it was read is never delivered.
class TrackInfoReader : public QObject {
    Q_OBJECT
public:
    explicit TrackInfoReader(QByteArray cacheFolder, QObject* parent = nullptr);
    ~TrackInfoReader() override;

    void Read(const QByteArray& path);

signals:
    // On the thread the reader belongs to, for the path last asked for.
    void Ready(const QByteArray& path, const TrackInfo& info);

private:
    void Work();

    const QByteArray cacheFolder_;
    QThread thread_;
    QObject* worker_ = nullptr;
    // Handed from Read to the reading thread.
    QMutex mutex_;
    QByteArray pendingPath_;
    quint64 pendingSerial_ = 0;
    // The serial of the latest request; read and written by Read and the
    // delivery alone, both on the reader's own thread.
    quint64 latestSerial_ = 0;
};
