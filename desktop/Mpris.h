#pragma once

#include "trackinfo/core/TrackInfoReader.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QVariantMap>
#include <functional>

class QTimer;
class TForm1;

// The desktop's media controls (sound menus, media keys, playerctl) reach the
// player through the MPRIS interfaces on the session bus. Every request runs
// the same routine as the button or key that does the same, so that the
// windows show what happened; the request is answered first and carried out
// from the event loop, because a routine may wait (the track-change delay)
// or ask (the open dialog on an empty playlist).
//
// The playback state lives in the main window's controls, which have no
// signals of their own; a short poll compares what the bus was last told
// with what the controls say now and sends PropertiesChanged for every
// difference, and Seeked when the position jumps, by the seek keys, the
// seek bar or the bus.
class Mpris : public QObject {
    Q_OBJECT
public:
    explicit Mpris(TForm1& form1, QObject* parent = nullptr);
    ~Mpris() override;

    // Takes org.mpris.MediaPlayer2.tolvane (or, when another copy holds it,
    // that name with ".instance" and the process id) and starts following
    // the player. Returns false when there is no session bus.
    bool Start();

    static constexpr int PollMs = 200;

    // --- org.mpris.MediaPlayer2.Player, read from the windows ---
    QString PlaybackStatus() const;
    QString LoopStatus() const;
    bool Shuffle() const;
    double Volume() const;
    qint64 Position() const; // microseconds
    QVariantMap Metadata();
    bool CanGoNext() const;
    bool CanPlay() const;
    bool CanPause() const;
    bool CanSeek() const;

    // --- requests ---
    void SetLoopStatus(const QString& status);
    void SetShuffle(bool on);
    void SetVolume(double volume);
    void Play();
    void Pause();
    void PlayPause();
    void Stop();
    void Next();
    void Previous();
    void Seek(qint64 offsetUs);
    void SetPosition(const QString& trackId, qint64 positionUs);
    void OpenUri(const QString& uri);
    void Raise();
    void Quit();

    QString TrackId();

    // Compares the properties with what was last sent and sends the changes.
    void Poll();

signals:
    void Seeked(qlonglong positionUs);

private:
    void Later(std::function<void()> action);
    void SeekTo(qint64 ms);
    QVariantMap PlayerProperties();
    void NoteTrack();
    void TrackInfoArrived(const QByteArray& path, const TrackInfo& info);

    TForm1& form1_;
    QTimer* poll_ = nullptr;
    QVariantMap sent_;
    // The track the metadata describes, and the tags read once for it, off
    // the window's thread; until they come the file's name is the title.
    QByteArray trackFile_;
    int trackSerial_ = 0;
    QVariantMap trackTags_;
    TrackInfoReader* trackInfo_ = nullptr;
    // Where the position should stand if nothing jumped since the last poll.
    qint64 lastPositionMs_ = -1;
    QElapsedTimer sinceLastPoll_;
};
