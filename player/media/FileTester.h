#pragma once

#include "player/media/FileStamp.h"
#include "player/media/WorkerChannel.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <array>
#include <deque>
#include <functional>
#include <map>
#include <vector>

class QSocketNotifier;

// Tells whether the media device can open a file, without letting the file
// near the window's process: a damaged file can make a decoder loop for good
// or bring the process down, and neither can be stopped from inside it. The
// files are opened by a worker process (tolvane-tester, next to the program,
// spoken to over a TWorkerChannel as the playing child is), which is killed
// and started again when it takes longer than the open limit or dies; that
// costs one file, never the session.
//
// While a caller waits for a verdict the window's events go on being handled
// (repaints, Stop, closing the window), as everywhere else the player waits.
class TFileTester : public QObject {
    Q_OBJECT
public:
    enum class Verdict { Opens, Fails, Abandoned };

    // Up to `workers` files are tried at the same time, each by a process
    // of its own.
    explicit TFileTester(QObject* parent = nullptr, int workers = 1);
    // Another worker program or time limit (the tests use stand-ins that hang
    // or die).
    TFileTester(const QString& program, const QStringList& arguments, int limitMs,
                QObject* parent = nullptr, int workers = 1);
    ~TFileTester() override;

    // Hands a path to a worker and returns at once: the worker opens it
    // while the caller goes on with its own work. Files are handed out in
    // the order they were sent.
    int Send(const QByteArray& path);
    // The verdict on what Send was given. Returns Abandoned, leaving the file
    // untried, when giveUp says so or the application is quitting.
    Verdict Wait(int ticket, const std::function<bool()>& giveUp = {});
    Verdict Test(const QByteArray& path, const std::function<bool()>& giveUp = {}) {
        return Wait(Send(path), giveUp);
    }
    // As Test, but a file that opened here before and has not changed since
    // (same file, size and modification time) is not tried again: playing a
    // track for the second time needs no detour through a worker.
    Verdict TestUnlessKnown(const QByteArray& path, const std::function<bool()>& giveUp = {});
    // Why the last file that failed did not open.
    QString LastReason() const { return lastReason_; }

    // Whether a wait has seen the application quit: from then on nothing is
    // tried, and every wait gives up at once.
    bool Quitting() const { return quitting_; }

    // How many worker processes were started; a test watches restarts.
    int WorkersStarted() const { return started_; }

    // The worker program, among the player's helpers (HelperFile).
    static QString DefaultProgram();

signals:
    void answered();

private:
    struct Request {
        int ticket;
        QByteArray path;
        // How many workers left of their own accord while it was theirs.
        int leftOn = 0;
    };
    struct Result {
        bool opens;
        QString reason;
    };
    struct Worker {
        TWorkerChannel channel;
        // Tells the window's event loop that answers have come.
        QSocketNotifier* notifier = nullptr;
        // Sent and not yet answered, in the order the worker takes them; the
        // first is the one it works on, since `since`.
        std::deque<Request> inFlight;
        QElapsedTimer since;
    };

    void SendNext();
    bool StartWorker(Worker& worker);
    void StopWorker(Worker& worker);
    // The worker is gone: its first request gets `reason`, the others go
    // back to the front of the queue.
    void Lose(Worker& worker, const QString& reason);
    void ReadAnswers(Worker& worker);
    void WorkerEnded(Worker& worker);
    void Settle(const Request& request, bool opens, const QString& reason);
    void CheckTimeLimit();

    QByteArray program_;
    QList<QByteArray> arguments_;
    int limitMs_;
    std::vector<Worker> workers_;
    bool workerMissing_ = false;
    bool quitting_ = false;
    int started_ = 0;
    int nextTicket_ = 1;
    std::deque<Request> queue_;
    std::map<int, Result> done_;
    QString lastReason_;
    TStampCache knownToOpen_;
};
