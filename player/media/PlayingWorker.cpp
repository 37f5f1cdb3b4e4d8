#include "player/media/PlayingWorker.h"

#include "platform/HelperFiles.h"
#include "player/media/ChildStart.h"
#include "player/media/PlayingProtocol.h"
#include "player/media/Probing.h"
#include "player/media/Sinks.h"

#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace PlayingProtocol;

namespace {

using Clock = std::chrono::steady_clock;

// A child started ahead of the file that needs it, so that opening costs the
// window no more than prerolling: starting the program and GStreamer takes
// some 50 ms, loading FFmpeg's libraries as long again. It loads them when
// the file before needed them. Only started when a file will need it: an
// idle child costs its start and its memory for nothing.
TWorkerChannel spare;

bool Spawn(TWorkerChannel& child, bool withDecoders) {
    int socket = -1;
    const pid_t pid = StartPlayingChild(withDecoders, socket);
    if (pid <= 0)
        return false;
    child.Adopt(pid, socket);
    return true;
}

void StartSpare(bool withDecoders) {
    if (!spare.Running())
        Spawn(spare, withDecoders);
}

// The spare, unless it has died meanwhile; else a new child.
// ready: the child has said it is ready for its first file.
bool TakeChild(TWorkerChannel& child, bool& ready) {
    ready = false;
    if (spare.Running()) {
        child = std::move(spare);
        std::vector<QByteArray> early;
        if (child.Collect(early)) {
            for (const QByteArray& frame : early)
                ready = ready || frame.startsWith(Ready);
            return true;
        }
        child.Kill();
    }
    return Spawn(child, false);
}

} // namespace

TPlayingWorker::TPlayingWorker() {
    letGoClosed_.setSingleShot(true);
    letGoClosed_.setInterval(ClosedChildWaitMs);
    letGoClosed_.callOnTimeout([this] {
        if (!open_)
            LetGo();
    });
}

TPlayingWorker::~TPlayingWorker() {
    channel_.Kill();
}

QByteArray TPlayingWorker::Program() {
    return HelperFile(WorkerProgram);
}

bool TPlayingWorker::Available() {
    static const bool there = access(Program().constData(), X_OK) == 0;
    return there;
}

void TPlayingWorker::Prepare(bool withDecoders) {
    StartSpare(withDecoders);
}

void TPlayingWorker::TakeStartedChild(bool wanted) {
    const char* text = std::getenv(StartedChildVariable);
    pid_t pid = 0;
    int socket = -1;
    const bool named = ReadStartedChild(text, pid, socket);
    // Not for the programs the player starts.
    ::unsetenv(StartedChildVariable);
    if (!named)
        return;
    // Only a running child of this process; a descriptor named with
    // anything else is left alone, it may be another's.
    int status = 0;
    const pid_t ended = ::waitpid(pid, &status, WNOHANG);
    if (ended != 0) {
        if (ended == pid)
            ::close(socket);
        return;
    }
    // The socket is not for the programs the player starts either.
    ::fcntl(socket, F_SETFD, FD_CLOEXEC);
    if (wanted) {
        spare.Adopt(pid, socket);
    } else {
        TWorkerChannel unwanted;
        unwanted.Adopt(pid, socket);
    }
}

void TPlayingWorker::Take(const QByteArray& frame, QString* error) {
    if (frame.startsWith(Answer) || frame.startsWith(Report))
        Read(frame, state_, error);
    // The answer to a play comes before the sound does: the position runs
    // from the first report that finds the track moving.
    running_ = frame.startsWith(Report) && state_.mode == TMPModes::mpPlaying;
}

void TPlayingWorker::Listen() {
    if (broken_ || !channel_.Running())
        return;
    std::vector<QByteArray> frames;
    const bool alive = channel_.Collect(frames);
    for (const QByteArray& frame : frames)
        Take(frame, nullptr);
    const auto now = Clock::now();
    if (!frames.empty())
        heard_ = now;
    const bool atEnd = state_.length > 0 && state_.position >= state_.length;
    if (state_.mode != TMPModes::mpPlaying || state_.position != stillAt_ || atEnd) {
        stillAt_ = state_.position;
        stillSince_ = now;
    }
    if (!alive) {
        BreakOff();
    } else if (now - stillSince_ > std::chrono::milliseconds(StandingStillLimitMs)) {
        // A decoder that spins on a damaged file keeps the child answering
        // while the track stands still for good.
        BreakOff();
    } else if (now - heard_ > std::chrono::milliseconds(TWorkerChannel::SilenceLimitMs)) {
        silent_ = true;
        BreakOff();
    }
}

QString TPlayingWorker::Call(char command, const QByteArray& argument, int timeoutMs) {
    // A track that was paused or moved may stand still for a moment after;
    // one that runs runs on through a title or a redraw.
    const bool leaves = LeavesPlay(command);
    const bool wasRunning = running_;
    if (!leaves) {
        stillSince_ = Clock::now();
        running_ = false;
    }
    if (!channel_.Send(QByteArray(1, command) + argument)) {
        BreakOff();
        return {};
    }
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        QByteArray frame;
        const int left = int(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
        switch (channel_.Receive(frame, std::max(0, left))) {
        case TWorkerChannel::Heard::Frame:
            heard_ = Clock::now();
            if (frame.startsWith(Ready)) {
                ready_ = true;
                if (command == OpenCommand && openLimitMs_ > 0)
                    deadline = heard_ + std::chrono::milliseconds(openLimitMs_);
                break;
            }
            if (frame.startsWith(Answer)) {
                QString error;
                Take(frame, &error);
                if (leaves)
                    running_ = wasRunning && state_.mode == TMPModes::mpPlaying;
                return error;
            }
            Take(frame, nullptr);
            break;
        case TWorkerChannel::Heard::Silent:
            silent_ = true;
            BreakOff();
            return {};
        case TWorkerChannel::Heard::Gone:
            BreakOff();
            return {};
        }
    }
}

void TPlayingWorker::BreakOff() {
    channel_.Kill();
    // As a stream that breaks off while playing: the track has ended, so
    // that the player goes on with the next one.
    broken_ = true;
    state_.mode = TMPModes::mpStopped;
    state_.position = state_.length;
    state_.lastError = TWorkerChannel::StoppedText();
}

void TPlayingWorker::Open(const QByteArray& given) {
    // The child kept ready was started in the folder that was current then.
    const QByteArray path = QByteArray::fromStdString(AbsolutePath(given.toStdString()));
    // The next track goes to the child that played the last one, whose
    // plugins and pipeline are warm: a track change then costs what it did
    // when files played in the player itself. A child is let go now and
    // then, so that what it gathered (FFmpeg's libraries, say) comes back.
    letGoClosed_.stop();
    // What a closed child said since is stale; a child that has ended
    // meanwhile is let go here rather than found out by the open.
    std::vector<QByteArray> stale;
    const bool reuse = Reusable() && channel_.Collect(stale);
    if (!reuse)
        LetGo();
    open_ = broken_ = silent_ = false;
    videoWindowSize_ = {};
    const QString unplayable = UnplayablePathReason(path);
    if (!unplayable.isEmpty()) {
        LetGo();
        state_.lastError = unplayable;
        throw EMCIDeviceError(unplayable.toStdString());
    }
    state_ = {};
    if (!reuse && !TakeChild(channel_, ready_)) {
        state_.lastError = TWorkerChannel::CannotStartText();
        throw EMCIDeviceError(state_.lastError.toStdString());
    }
    tracks_ = reuse ? tracks_ + 1 : 1;
    QByteArray argument;
    QDataStream out(&argument, QIODevice::WriteOnly);
    // The window pictures go to: a video prerolls there at once.
    out << path << quint64(videoWindow_);
    // A bound of the caller's own is meant for the open: a child that is
    // still starting (slowly on a busy machine) has as long again for that.
    int limitMs = TWorkerChannel::OpenLimitMs();
    if (openLimitMs_ > 0)
        limitMs = ready_ ? openLimitMs_ : 2 * openLimitMs_;
    const QString error = Call(OpenCommand, argument, limitMs);
    const QString reason = !broken_ ? error
                           : silent_
                               ? TWorkerChannel::NotOpenedWithinText(TMediaPlayer::OpenTimeoutMs)
                               : TWorkerChannel::StoppedText();
    // The next file's child starts once this one has opened, not while it
    // opens: the two would share the processor.
    if (tracks_ >= TracksPerChild || state_.spent)
        StartSpare(state_.ffmpeg);
    if (!reason.isEmpty() || !state_.open) {
        // A file that fails may have left a pipeline running in the child.
        LetGo();
        state_ = {};
        state_.lastError = reason.isEmpty() ? TWorkerChannel::CannotBePlayedText() : reason;
        throw EMCIDeviceError(state_.lastError.toStdString());
    }
    path_ = path;
    open_ = true;
}

bool TPlayingWorker::OpenWithin(const QByteArray& path, int limitMs) {
    openLimitMs_ = limitMs;
    try {
        Open(path);
    } catch (const EMCIDeviceError&) {
        openLimitMs_ = 0;
        if (!silent_)
            throw;
        state_ = {};
        // The file goes elsewhere for as long as it takes; a child for
        // the open that may follow loads meanwhile.
        StartSpare(false);
        return false;
    }
    openLimitMs_ = 0;
    return true;
}

bool TPlayingWorker::Reusable() const {
    return channel_.Running() && !broken_ && !state_.spent && tracks_ < TracksPerChild;
}

// The child closes the file and stays for the next one, which at the end of
// a track comes at once: it plays there on warm plugins and the same
// connection to the sound server, and no other child need load meanwhile.
void TPlayingWorker::Close() {
    if (open_ && Reusable()) {
        const QString lastError = state_.lastError;
        const QString error = Call(CloseCommand, {}, TWorkerChannel::CommandLimitMs);
        if (!broken_ && error.isEmpty() && !state_.spent) {
            state_ = {};
            state_.lastError = lastError;
            open_ = false;
            letGoClosed_.start();
            return;
        }
    }
    LetGo();
}

void TPlayingWorker::LetGo() {
    // Killed rather than asked to leave: nothing of the child's is worth
    // waiting for, and the sound server lets go of its stream either way.
    channel_.Kill();
    if (open_) {
        const QString lastError = state_.lastError;
        state_ = {};
        state_.lastError = lastError;
    }
    open_ = broken_ = false;
    tracks_ = 0;
}

void TPlayingWorker::Play() {
    // As a stream that broke off here, the file plays again from its start:
    // in a new child, or it fails as an open would.
    if (broken_) {
        const quintptr window = videoWindow_;
        const QSize size = videoWindowSize_;
        LetGo();
        Open(QByteArray(path_));
        if (window)
            SetVideoWindow(window, size);
    }
    // Pictures move to their window when they first play, which takes a
    // preroll of its own.
    const QString error = Call(PlayCommand, {}, TWorkerChannel::OpenLimitMs());
    if (!error.isEmpty())
        throw EMCIDeviceError(error.toStdString());
}

void TPlayingWorker::Pause() {
    const QString error =
        broken_ ? QString() : Call(PauseCommand, {}, TWorkerChannel::CommandLimitMs);
    if (!error.isEmpty())
        throw EMCIDeviceError(error.toStdString());
}

void TPlayingWorker::Stop() {
    const QString error =
        broken_ ? QString() : Call(StopCommand, {}, TWorkerChannel::CommandLimitMs);
    if (!error.isEmpty())
        throw EMCIDeviceError(error.toStdString());
}

void TPlayingWorker::Seek(qint64 ms) {
    QByteArray argument;
    QDataStream out(&argument, QIODevice::WriteOnly);
    out << ms;
    const QString error =
        broken_ ? QString() : Call(SeekCommand, argument, TWorkerChannel::CommandLimitMs);
    if (!error.isEmpty())
        throw EMCIDeviceError(error.toStdString());
}

void TPlayingWorker::SetStreamTitle(const QString& title, const QString& artist) {
    if (!open_ || broken_)
        return;
    QByteArray argument;
    QDataStream out(&argument, QIODevice::WriteOnly);
    out << title << artist;
    // Only a name: a child too slow to take it is found out by the commands
    // that matter.
    Call(StreamTitleCommand, argument, TWorkerChannel::CommandLimitMs);
}

void TPlayingWorker::SetVideoWindow(quintptr window, const QSize& size) {
    videoWindow_ = window;
    videoWindowSize_ = size;
    if (!open_ || broken_)
        return;
    QByteArray argument;
    QDataStream out(&argument, QIODevice::WriteOnly);
    out << quint64(window) << qint32(size.width()) << qint32(size.height());
    Call(VideoWindowCommand, argument, TWorkerChannel::CommandLimitMs);
}

void TPlayingWorker::RedrawVideo() {
    if (open_ && !broken_ && videoWindow_)
        Call(RedrawCommand, {}, TWorkerChannel::CommandLimitMs);
}

qint64 TPlayingWorker::Position() {
    Listen();
    if (!running_ || broken_)
        return state_.position;
    const qint64 since = std::chrono::duration_cast<std::chrono::milliseconds>(
                             Clock::now() - Clock::time_point(Clock::duration(state_.at)))
                             .count();
    // Only the child tells the end: the player closes a track whose
    // position has come to its length.
    return std::max(state_.position,
                    std::min(state_.position + std::max<qint64>(0, since), state_.length - 1));
}

qint64 TPlayingWorker::Length() {
    Listen();
    return state_.length;
}

TMPModes TPlayingWorker::Mode() {
    Listen();
    return state_.mode;
}
