#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <sys/types.h>
#include <vector>

// The one way the player speaks to its worker processes (tolvane-tester),
// whether they test files for the bad-file scan or play the open track: a
// socket pair as the worker's standard input and output, frames of a 32-bit
// length in the machine's order and that many bytes, whose first byte says
// what the frame is. Every wait is bounded by the limits below; a worker that
// overruns one, dies or garbles its answers is killed and reaped at once,
// and what it had in hand fails with one of the texts below.
class TWorkerChannel {
public:
    TWorkerChannel() = default;
    // Kills and reaps the worker, if any.
    ~TWorkerChannel() { Kill(); }
    TWorkerChannel(const TWorkerChannel&) = delete;
    TWorkerChannel& operator=(const TWorkerChannel&) = delete;
    TWorkerChannel(TWorkerChannel&& other) noexcept;
    TWorkerChannel& operator=(TWorkerChannel&& other) noexcept;

    // Starts program with arguments; environment entries ("NAME=value")
    // replace the inherited ones of the same name. Nothing that the caller's
    // thread holds back is held back from the worker. False when it cannot
    // be started.
    bool Start(const QByteArray& program, const QList<QByteArray>& arguments,
               const std::vector<QByteArray>& environment = {});
    // Takes over a worker started elsewhere (SpawnWorker) with its end of
    // the socket pair.
    void Adopt(pid_t pid, int socket);
    bool Running() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    int Socket() const { return socket_; }

    // Sends a frame; false when the worker has gone.
    bool Send(const QByteArray& body);

    enum class Heard { Frame, Silent, Gone };
    // The next frame, waiting at most timeoutMs for it.
    Heard Receive(QByteArray& body, int timeoutMs);
    // The frames that have arrived, without waiting; false once the worker
    // has gone or garbled a frame (what came before is still given).
    bool Collect(std::vector<QByteArray>& bodies);

    // Kills the worker and the processes it started, and reaps them before
    // it returns; returns whether the worker had ended of itself by a
    // signal (a crash) before.
    bool Kill();
    // The worker has closed its end: reaps it, killing it should it linger;
    // returns whether it ended by a signal.
    bool Reap();
    // Gives up the worker without reaping it here (see ReapAll).
    void Detach();

    // The worker's side: whole frames on a descriptor.
    static bool ReadFrame(int fd, QByteArray& body);
    static bool WriteFrame(int fd, const QByteArray& body);

    // The limits every wait on a worker keeps.
    // A command that does not start pictures settles in milliseconds; the
    // bound only keeps a wedged worker from holding up the window.
    static constexpr int CommandLimitMs = 2000;
    // Starting the worker (loading the program and GStreamer's registry)
    // comes on top of the media device's open limit.
    static constexpr int StartMarginMs = 2000;
    static int OpenLimitMs();
    // A playing worker reports at least this often; one that has said
    // nothing for longer has stopped, and is killed.
    static constexpr int SilenceLimitMs = 4000;

    // The texts of a file that a worker could not carry through.
    static QString StoppedText();
    static QString NotOpenedWithinText(int limitMs);
    static QString CannotBePlayedText();
    static QString CannotStartText();

private:
    bool Parse(std::vector<QByteArray>& bodies);

    pid_t pid_ = 0;
    int socket_ = -1;
    QByteArray received_;
};
