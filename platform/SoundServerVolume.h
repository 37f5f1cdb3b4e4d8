#pragma once

#include "platform/ChannelVolumes.h"

#include <QObject>
#include <memory>
#include <optional>

// The volume of the sound server's default output (its default sink), which
// everything the desktop plays goes through. Every call waits for the
// server's answer, but never longer than TimeoutMs: a server that is gone or
// stuck costs the caller at most that long and reads as "no output".
class SoundServerVolume {
public:
    SoundServerVolume();
    ~SoundServerVolume();
    SoundServerVolume(const SoundServerVolume&) = delete;
    SoundServerVolume& operator=(const SoundServerVolume&) = delete;

    static constexpr int TimeoutMs = 1000;

    // Whether the server answers and has a default output.
    bool IsAvailable();

    // The left and right volume of the default output, each 0..65535 where
    // 65535 is the server's 100%; nothing when there is no default output.
    std::optional<ChannelVolumes> Read();

    // Sets the default output's channels on the left to `left` and those on
    // the right to `right` (any others to the louder of the two). Returns
    // whether the server took it; when there is no default output nothing
    // is done.
    bool Write(ChannelVolumes channels);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// A channel volume 0..65535 and the server's own volume steps, where 65536
// (PA_VOLUME_NORM) is 100%, are proportional; these round to the nearest
// step, so that every channel volume comes back unchanged from the server.
// Server volumes above 100% read as full.
quint32 ServerVolumeOfChannel(quint16 channel);
quint16 ChannelOfServerVolume(quint32 serverVolume);

// Follows the default output's volume as the server changes it, whoever
// changes it (another program, the desktop's mixer, this one): on a thread of
// libpulse's own, its answers handed to the thread that made the watch. It
// starts with a first reading and reconnects when the server comes back.
class SoundServerWatch : public QObject {
    Q_OBJECT
public:
    explicit SoundServerWatch(QObject* parent = nullptr);
    ~SoundServerWatch() override;

    // The watch's first reading, waited for up to SoundServerVolume's
    // TimeoutMs: what Read() would give, without a connection of its own.
    std::optional<ChannelVolumes> FirstReading();

signals:
    // The default output's left and right volume, as Read() gives them;
    // each change once, in order. askedAt is when the reading was asked for
    // (std::chrono::steady_clock, in ns): one asked before a write of the
    // caller's own ended may show the volume from before that write.
    void volumeChanged(quint16 left, quint16 right, qint64 askedAt);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
