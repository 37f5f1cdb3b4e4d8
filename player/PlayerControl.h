#pragma once

#include "trackinfo/core/TrackInfoReader.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QObject>
#include <deque>

class TForm1;

// The player as seen from outside its windows: the desktop's media controls,
// the command line and a second copy handing over its files. Commands go in,
// the state can be read without waiting, and signals tell what changed, as
// the windows' own code changes it; nothing here needs to be polled.
//
// Commands are carried out from the event loop, one at a time and in the
// order given, by the same routine as the button or key that does the same,
// so that the windows show what happened. Some routines wait while handling
// window events (the track-change delay, the bad-file scan, the open dialog
// on an empty playlist); commands that come meanwhile are merged into those
// still waiting instead of starting inside them: a run of Next and Previous
// becomes one move by their sum, a repeated Play, Pause or Stop counts once,
// seeks add up. However many come, the player changes track once more.
class PlayerControl : public QObject {
    Q_OBJECT
public:
    explicit PlayerControl(TForm1& form1, QObject* parent = nullptr);
    ~PlayerControl() override;

    enum class PlaybackState { Stopped, Playing, Paused };

    // --- commands ---
    void Play();      // starts, or goes on after a pause; nothing while playing
    void Pause();     // pauses what plays
    void PlayPause(); // as the Pause key, or Play when nothing is loaded
    void Stop();
    void Next();
    void Previous();
    void SeekTo(qint64 ms);
    // Past the end of the track means the next track.
    void SeekBy(qint64 ms);
    // Media files are added as a drop adds them, folders as "Add Folder"
    // searches them (into subfolders when "Include Subfolder" is checked),
    // playlist files as "Add to List" reads them; names a playlist cannot
    // hold are skipped. Then the first of the new entries plays; nothing
    // added, nothing started.
    void OpenPaths(const QByteArrayList& paths);
    // Brings the main window to the front; the playlist window stays as the
    // user left it.
    void Raise();
    void Quit();
    // These two take effect at once: they never wait, and a caller that sets
    // them reads them back.
    void SetVolumeLevel(int level); // 0..255, as the volume bar
    void SetPlayOrder(int index);   // 0 Con, 1 Shu, 2 Rep

    // --- the state, read from the windows without waiting ---
    PlaybackState State() const;
    // The file the media device holds (or last tried); empty before any.
    QByteArray TrackPath() const;
    qint64 Position() const; // ms; 0 when nothing is loaded
    qint64 Length() const;   // ms; -1 when the device has no track open
    int VolumeLevel() const;
    int PlayOrder() const;
    bool CanGoNext() const;
    bool CanGoPrevious() const;

signals:
    void playbackStateChanged();
    // A track has started, also the same one again.
    void trackChanged();
    // The position moved other than by playing on: a seek key, a click on
    // the seek bar, a resume from the bar's place, a seek asked for here.
    // `ms` is where it was sent, which may lie past either end of the track.
    void positionJumped(qint64 ms);
    void volumeChanged(int level);
    void playOrderChanged(int index);
    // Entries were added or removed (what CanGoNext answers may differ).
    void entriesChanged();
    // The tags and cover of a track that has started, read off the
    // window's thread once per track change; `path` may no longer be the
    // track that plays.
    void trackInfoChanged(const QByteArray& path, const TrackInfo& info);

private:
    struct Request {
        enum class Kind { Play, Pause, PlayPause, Stop, Step, SeekTo, SeekBy, Open, Raise, Quit };
        Kind kind;
        qint64 amount = 0; // Step: entries to move, negative back; seeks: ms
        QByteArrayList paths = {};
    };
    using Kind = Request::Kind;
    void Enqueue(Request request);
    void RunPending();
    void Carry(const Request& request);
    void Move(qint64 steps);
    void Seek(qint64 ms);
    void Open(const QByteArrayList& paths);
    void NoteTrack();
    void TrackInfoArrived(const QByteArray& path, const TrackInfo& info);

    TForm1& form1_;
    TrackInfoReader* trackInfo_ = nullptr;
    // The track last read, and what was read of it (the track may start
    // again, and each start names its stream by the file afresh).
    QByteArray infoPath_;
    TrackInfo info_;
    bool infoKnown_ = false;
    std::deque<Request> pending_;
    bool running_ = false;
    bool posted_ = false;
};
