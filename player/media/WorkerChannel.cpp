#include "player/media/WorkerChannel.h"

#include "platform/FullTransfer.h"
#include "player/media/ChildStart.h"
#include "player/media/MediaPlayer.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

// No frame is this long; a length beyond it means the stream is out of step.
constexpr quint32 LongestFrame = 1 << 20;
// A worker that closed its end is leaving; one that has not left by then
// is made to.
constexpr int LeavingMs = 1000;

bool WaitFor(pid_t pid, int& status, bool block) {
    for (;;) {
        const pid_t ended = ::waitpid(pid, &status, block ? 0 : WNOHANG);
        if (ended < 0 && errno == EINTR)
            continue;
        return ended == pid || ended < 0;
    }
}

// Kills the worker's process group: the worker and what it started (the
// plugin scanner GStreamer runs while it builds its registry, say), which
// would otherwise live on after it. The group's id stays taken while any of
// them, or the worker's unreaped remains, is there.
void KillGroup(pid_t worker) {
    ::kill(-worker, SIGKILL);
}

// Reaps what the worker left of its group, once it has been reaped: while
// this process is a subreaper its orphans come here.
void ReapGroup(pid_t worker) {
    while (::waitpid(-worker, nullptr, 0) > 0 || errno == EINTR) {
    }
}

} // namespace

TWorkerChannel::TWorkerChannel(TWorkerChannel&& other) noexcept
    : pid_(std::exchange(other.pid_, 0)), socket_(std::exchange(other.socket_, -1)),
      received_(std::move(other.received_)) {}

TWorkerChannel& TWorkerChannel::operator=(TWorkerChannel&& other) noexcept {
    if (this != &other) {
        Kill();
        pid_ = std::exchange(other.pid_, 0);
        socket_ = std::exchange(other.socket_, -1);
        received_ = std::move(other.received_);
    }
    return *this;
}

bool TWorkerChannel::Start(const QByteArray& program, const QList<QByteArray>& arguments,
                           const std::vector<QByteArray>& environment) {
    std::vector<std::string> words, entries;
    for (const QByteArray& word : arguments)
        words.push_back(word.toStdString());
    for (const QByteArray& entry : environment)
        entries.push_back(entry.toStdString());
    int socket = -1;
    const pid_t pid = SpawnWorker(program.toStdString(), words, entries, socket);
    if (pid <= 0)
        return false;
    Adopt(pid, socket);
    return true;
}

void TWorkerChannel::Adopt(pid_t pid, int socket) {
    Kill();
    pid_ = pid;
    socket_ = socket;
    received_.clear();
}

bool TWorkerChannel::Send(const QByteArray& body) {
    return socket_ >= 0 && SendFully(socket_, Frame(body));
}

bool TWorkerChannel::Parse(std::vector<QByteArray>& bodies) {
    for (;;) {
        quint32 size = 0;
        if (received_.size() < qsizetype(sizeof size))
            return true;
        std::memcpy(&size, received_.constData(), sizeof size);
        if (size > LongestFrame)
            return false;
        if (received_.size() < qsizetype(sizeof size + size))
            return true;
        bodies.push_back(received_.mid(sizeof size, size));
        received_.remove(0, qsizetype(sizeof size + size));
    }
}

bool TWorkerChannel::Collect(std::vector<QByteArray>& bodies) {
    if (socket_ < 0)
        return false;
    for (;;) {
        char chunk[4096];
        const ssize_t got = ::recv(socket_, chunk, sizeof chunk, MSG_DONTWAIT);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return Parse(bodies);
        if (got <= 0) {
            Parse(bodies);
            return false;
        }
        received_.append(chunk, qsizetype(got));
    }
}

TWorkerChannel::Heard TWorkerChannel::Receive(QByteArray& body, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<QByteArray> bodies;
    for (;;) {
        const bool alive = Collect(bodies);
        if (!bodies.empty()) {
            body = bodies.front();
            // Frames after it stay for the next call.
            for (size_t i = bodies.size(); i-- > 1;)
                received_.prepend(Frame(bodies[i]));
            return Heard::Frame;
        }
        if (!alive)
            return Heard::Gone;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return Heard::Silent;
        pollfd wait{socket_, POLLIN, 0};
        if (::poll(&wait, 1, int(left.count())) < 0 && errno != EINTR)
            return Heard::Gone;
    }
}

bool TWorkerChannel::Kill() {
    if (socket_ >= 0)
        ::close(socket_);
    socket_ = -1;
    received_.clear();
    if (pid_ <= 0)
        return false;
    // The worker's children are orphaned as it dies: they come to this
    // process then, and are gone, reaped, when Kill returns, also at the end
    // of the program, rather than later by the kernel's notice of a parent's
    // death. Not for good: a program this one starts detached would come
    // here too when its starter leaves, and never be reaped.
    int subreaper = 0;
    prctl(PR_GET_CHILD_SUBREAPER, &subreaper);
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    int status = 0;
    const bool ended = WaitFor(pid_, status, false);
    // The worker, if it still runs, and what it started.
    KillGroup(pid_);
    if (!ended)
        WaitFor(pid_, status, true);
    ReapGroup(pid_);
    prctl(PR_SET_CHILD_SUBREAPER, subreaper);
    pid_ = 0;
    return ended && WIFSIGNALED(status);
}

bool TWorkerChannel::Reap() {
    if (pid_ <= 0)
        return false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(LeavingMs);
    int status = 0;
    while (!WaitFor(pid_, status, false)) {
        if (Clock::now() >= deadline) {
            Kill();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // What it started goes with it.
    KillGroup(pid_);
    pid_ = 0;
    Kill();
    return WIFSIGNALED(status);
}

void TWorkerChannel::Detach() {
    if (socket_ >= 0)
        ::close(socket_);
    socket_ = -1;
    pid_ = 0;
    received_.clear();
}

bool TWorkerChannel::ReadFrame(int fd, QByteArray& body) {
    quint32 size = 0;
    if (!ReadFully(fd, &size, sizeof size) || size > LongestFrame)
        return false;
    body.resize(qsizetype(size));
    return ReadFully(fd, body.data(), size);
}

bool TWorkerChannel::WriteFrame(int fd, const QByteArray& body) {
    return SendFully(fd, Frame(body));
}

int TWorkerChannel::OpenLimitMs() {
    return TMediaPlayer::OpenTimeoutMs + StartMarginMs;
}

QString TWorkerChannel::StoppedText() {
    return QStringLiteral("The file stopped the media device.");
}

QString TWorkerChannel::NotOpenedWithinText(int limitMs) {
    return QStringLiteral("The file did not open within %1 seconds.").arg(limitMs / 1000);
}

QString TWorkerChannel::CannotBePlayedText() {
    return QStringLiteral("The file cannot be played.");
}

QString TWorkerChannel::CannotStartText() {
    return QStringLiteral("The media device cannot be started.");
}
