#include "player/PlayerControl.h"

#include "player/Unit1.h"
#include "player/core/Volume.h"
#include "player/media/MediaPlayer.h"
#include "playlist/Unit2.h"
#include "playlist/core/MediaSearch.h"
#include "playlist/core/Playlist.h"
#include "playlist/core/PlaylistFile.h"
#include "playlist/core/PlaylistFormats.h"
#include "trackinfo/core/CoverArt.h"
#include "windows/MessageBox.h"

#include <QComboBox>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <vector>

namespace {

// Requests beyond this many that cannot be merged are dropped: a desktop
// that floods the bus must not pile up work for minutes.
constexpr size_t MaxPending = 32;

// How often files handed over during a bad-file scan look whether it ended.
constexpr int ScanWaitMs = 250;

bool IsPlaylistFile(const QByteArray& path) {
    return IsPlaylistName(path) && !IsFolder(path, false);
}

} // namespace

PlayerControl::PlayerControl(TForm1& form1, QObject* parent)
    : QObject(parent), form1_(form1), trackInfo_(new TrackInfoReader(CoverCacheFolder(), this)) {
    connect(trackInfo_, &TrackInfoReader::Ready, this, &PlayerControl::TrackInfoArrived);
    connect(&form1, &TForm1::playbackStateChanged, this, &PlayerControl::playbackStateChanged);
    connect(&form1, &TForm1::trackChanged, this, &PlayerControl::NoteTrack);
    connect(&form1, &TForm1::trackChanged, this, &PlayerControl::trackChanged);
    connect(&form1, &TForm1::positionJumped, this, &PlayerControl::positionJumped);
    connect(&form1, &TForm1::volumeChanged, this, &PlayerControl::volumeChanged);
    connect(&form1, &TForm1::playOrderChanged, this, &PlayerControl::playOrderChanged);
    if (const TForm2* form2 = form1.Form2) {
        const Playlist* list = form2->Lists;
        connect(list, &Playlist::rowsInserted, this, &PlayerControl::entriesChanged);
        connect(list, &Playlist::rowsRemoved, this, &PlayerControl::entriesChanged);
        connect(list, &Playlist::modelReset, this, &PlayerControl::entriesChanged);
    }
}

PlayerControl::~PlayerControl() = default;

// --- what the track's file tells ---------------------------------------------

namespace {

void NameStream(TMediaPlayer& player, const TrackTags& tags) {
    if (!tags.Title.isEmpty())
        player.SetStreamTitle(tags.Title, tags.Artists.join(QStringLiteral(", ")));
}

} // namespace

void PlayerControl::NoteTrack() {
    const QByteArray path = TrackPath();
    if (path.isEmpty())
        return;
    if (path == infoPath_) {
        if (infoKnown_)
            NameStream(*form1_.MP, info_.Tags);
        return;
    }
    infoPath_ = path;
    infoKnown_ = false;
    trackInfo_->Read(path);
}

void PlayerControl::TrackInfoArrived(const QByteArray& path, const TrackInfo& info) {
    if (path == infoPath_) {
        info_ = info;
        infoKnown_ = true;
        if (path == TrackPath())
            NameStream(*form1_.MP, info.Tags);
    }
    emit trackInfoChanged(path, info);
}

// --- the state -----------------------------------------------------------------

PlayerControl::PlaybackState PlayerControl::State() const {
    if (!form1_.isLoaded())
        return PlaybackState::Stopped;
    return form1_.isPaused() ? PlaybackState::Paused : PlaybackState::Playing;
}

QByteArray PlayerControl::TrackPath() const {
    return form1_.MP->FileName;
}

qint64 PlayerControl::Position() const {
    if (!form1_.isLoaded())
        return 0;
    try {
        return form1_.MP->MediaPosition();
    } catch (const std::exception&) {
        return 0;
    }
}

qint64 PlayerControl::Length() const {
    if (!form1_.MP->isOpen())
        return -1;
    try {
        return form1_.MP->MediaLength();
    } catch (const std::exception&) {
        return -1;
    }
}

int PlayerControl::VolumeLevel() const {
    return form1_.ScrollBar1->value();
}

int PlayerControl::PlayOrder() const {
    return form1_.PlayOrderIndex();
}

bool PlayerControl::CanGoNext() const {
    return form1_.Form2 && form1_.Form2->EntryCount() > 0;
}

bool PlayerControl::CanGoPrevious() const {
    return CanGoNext();
}

// --- commands that take effect at once -----------------------------------------

void PlayerControl::SetVolumeLevel(int level) {
    // The bar writes the system volume when its position changes.
    form1_.ScrollBar1->setValue(std::clamp(level, MinVolumeLevel, MaxVolumeLevel));
}

void PlayerControl::SetPlayOrder(int index) {
    switch (index) {
    case 1:
        form1_.Shuffle1Click();
        break;
    case 2:
        form1_.Repeat1Click();
        break;
    default:
        form1_.Continuous1Click();
        break;
    }
}

// --- commands that may wait ----------------------------------------------------

void PlayerControl::Play() {
    Enqueue({Kind::Play});
}
void PlayerControl::Pause() {
    Enqueue({Kind::Pause});
}
void PlayerControl::PlayPause() {
    Enqueue({Kind::PlayPause});
}
void PlayerControl::Stop() {
    Enqueue({Kind::Stop});
}
void PlayerControl::Next() {
    Enqueue({Kind::Step, 1});
}
void PlayerControl::Previous() {
    Enqueue({Kind::Step, -1});
}
void PlayerControl::SeekTo(qint64 ms) {
    Enqueue({Kind::SeekTo, ms});
}
void PlayerControl::SeekBy(qint64 ms) {
    Enqueue({Kind::SeekBy, ms});
}
void PlayerControl::OpenPaths(const QByteArrayList& paths) {
    if (!paths.isEmpty())
        Enqueue({Kind::Open, 0, paths});
}
void PlayerControl::Raise() {
    Enqueue({Kind::Raise});
}
void PlayerControl::Quit() {
    Enqueue({Kind::Quit});
}

void PlayerControl::Enqueue(Request request) {
    if (!pending_.empty() && pending_.back().kind == request.kind) {
        Request& last = pending_.back();
        switch (request.kind) {
        case Kind::Step:
        case Kind::SeekBy:
            last.amount += request.amount;
            return;
        case Kind::SeekTo:
            last.amount = request.amount;
            return;
        case Kind::Open:      // each plays the first of its own files
        case Kind::PlayPause: // two are not none: from idle they start, then pause
            break;
        default:
            return; // once is as good as twice
        }
    }
    if (pending_.size() >= MaxPending)
        return;
    pending_.push_back(std::move(request));
    // Carried out from the event loop: the caller (a bus call) is answered
    // first. While a request runs, those that come meanwhile wait for it.
    if (!running_ && !posted_) {
        posted_ = true;
        QMetaObject::invokeMethod(this, &PlayerControl::RunPending, Qt::QueuedConnection);
    }
}

void PlayerControl::RunPending() {
    posted_ = false;
    if (running_)
        return;
    running_ = true;
    while (!pending_.empty()) {
        const Request request = std::move(pending_.front());
        pending_.pop_front();
        RunCommand([&] { Carry(request); });
    }
    running_ = false;
}

void PlayerControl::Carry(const Request& request) {
    TForm1& f = form1_;
    switch (request.kind) {
    case Kind::Play:
        if (!f.isLoaded() || f.isPaused())
            f.PlayClick();
        break;
    case Kind::Pause:
        if (f.isPlaying())
            f.SpeedButton2Click();
        break;
    case Kind::PlayPause:
        // The Pause key pauses and resumes; Play starts when nothing is loaded.
        if (f.isPlaying() || f.isPaused())
            f.SpeedButton2Click();
        else
            f.PlayClick();
        break;
    case Kind::Stop:
        f.SpeedButton1Click();
        break;
    case Kind::Step:
        Move(request.amount);
        break;
    case Kind::SeekTo:
        Seek(request.amount);
        break;
    case Kind::SeekBy:
        if (!f.isLoaded())
            break;
        if (const qint64 length = Length(); length >= 0 && Position() + request.amount > length)
            f.NextClick();
        else
            Seek(std::max<qint64>(0, Position() + request.amount));
        break;
    case Kind::Open:
        Open(request.paths);
        break;
    case Kind::Raise:
        if (f.isMinimized())
            f.showNormal();
        f.show();
        f.raise();
        f.activateWindow();
        break;
    case Kind::Quit:
        pending_.clear();
        f.close();
        break;
    }
}

void PlayerControl::Move(qint64 steps) {
    if (steps == 1) {
        form1_.NextClick();
    } else if (steps == -1) {
        form1_.PrevClick();
    } else {
        // Next and Previous given one after another: one delay, then the
        // entry they lead to together. Each step wraps as Next and Previous
        // do, also in a list without a current entry.
        form1_.TrackChangeDelay();
        // Steps go round the list; a round more or less ends where it began.
        if (const int n = form1_.Form2->EntryCount(); n > 0 && form1_.Form2->CurrentIndex() != -1)
            steps %= n;
        for (qint64 i = 0; i < steps; ++i)
            form1_.SelectNextEntry();
        for (qint64 i = 0; i > steps; --i)
            form1_.SelectPreviousEntry();
        form1_.PlayCurrentEntry();
    }
}

void PlayerControl::Seek(qint64 ms) {
    // As the seek keys: the device moves, and goes on playing unless paused.
    if (!form1_.isLoaded() || ms < 0)
        return;
    try {
        if (const qint64 length = Length(); length >= 0 && ms > length)
            return;
        form1_.MP->SeekMedia(ms);
        if (!form1_.isPaused())
            form1_.MP->PlayMedia();
    } catch (const std::exception&) {
        return;
    }
    emit positionJumped(ms);
}

void PlayerControl::Open(const QByteArrayList& paths) {
    TForm2& form2 = *form1_.Form2;
    // The bad-file scan counts on being the only one to change the list
    // while it runs; what comes meanwhile waits for its end.
    if (form2.isScanning()) {
        QTimer::singleShot(ScanWaitMs, this, [this, paths] { OpenPaths(paths); });
        return;
    }
    const int before = form2.EntryCount();
    // Files next to each other go in as one drop, so that a file manager
    // handing over a thousand files renumbers the list once.
    std::vector<QByteArray> files;
    const auto dropFiles = [&] {
        if (!files.empty())
            form2.HandleDroppedFiles(files);
        files.clear();
    };
    for (const QByteArray& path : paths) {
        if (!IsStorablePath(path))
            continue;
        if (IsPlaylistFile(path)) {
            dropFiles();
            form2.AppendListFile(path);
        } else if (IsFolder(path, false)) {
            dropFiles();
            form2.AppendFolderFiles(path);
        } else {
            files.push_back(path);
        }
    }
    dropFiles();
    if (form2.EntryCount() > before) {
        form2.SetCurrentIndex(before);
        form1_.PlayCurrentEntry();
    }
}
