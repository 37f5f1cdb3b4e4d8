#pragma once

#include "trackinfo/core/TrackInfoReader.h"

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

class PlayerControl;

// The desktop's media controls (sound menus, media keys, playerctl) reach the
// player through the MPRIS interfaces on the session bus. Requests go to the
// player's controller, which carries them out as the buttons and keys do.
//
// The bus hears of changes from the controller's signals alone: on each, the
// properties are compared with what was last sent and the differences go out
// in one PropertiesChanged, once the handlers that changed them have
// finished; a jump of the position goes out as Seeked at once. Nothing is
// polled, so an idle player stays asleep.
class Mpris : public QObject {
    Q_OBJECT
public:
    explicit Mpris(PlayerControl& control, QObject* parent = nullptr);
    ~Mpris() override;

    // Takes org.mpris.MediaPlayer2.tolvane (or, when another copy holds it,
    // that name with ".instance" and the process id) and starts telling the
    // bus what changes. Returns false when there is no session bus.
    bool Start();

    // --- org.mpris.MediaPlayer2.Player, read from the controller ---
    QString PlaybackStatus() const;
    QString LoopStatus() const;
    bool Shuffle() const;
    double Volume() const;
    qint64 Position() const; // microseconds
    QVariantMap Metadata() const;
    bool CanGoNext() const;
    bool CanPlay() const;
    bool CanPause() const;
    bool CanSeek() const;

    // --- requests ---
    void SetLoopStatus(const QString& status);
    void SetShuffle(bool on);
    void SetVolume(double volume);
    // One speed only; a rate of 0 asks for a pause, as the interface says.
    void SetRate(double rate);
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

    QString TrackId() const;

signals:
    void Seeked(qlonglong positionUs);

private:
    void NoteTrack();
    void TrackInfoArrived(const QByteArray& path, const TrackInfo& info);
    void NotePositionJump(qint64 ms);
    void ChangesLater();
    void SendChanges();
    QVariantMap PlayerProperties() const;

    PlayerControl& control_;
    bool started_ = false;
    bool changesPosted_ = false;
    QVariantMap sent_;
    // The track the metadata describes, and the tags and length read once
    // for it (the tags off the window's thread; until they come the file's
    // name is the title), so that telling the bus never waits on the media
    // device.
    QByteArray trackFile_;
    int trackSerial_ = 0;
    QVariantMap trackTags_;
    qint64 trackLengthMs_ = -1;
};
