#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <map>
#include <optional>

class QProcess;

// Tells whether the media device can open a file, without letting the file
// near the window's process: a damaged file can make a decoder loop for good
// or bring the process down, and neither can be stopped from inside it. The
// files are opened by a worker process (tolvane-tester, next to the program),
// which is killed and started again when it takes longer than the open limit
// or dies; that costs one file, never the session.
//
// While a caller waits for a verdict the window's events go on being handled
// (repaints, Stop, closing the window), as everywhere else the player waits.
class TFileTester : public QObject {
    Q_OBJECT
public:
    enum class Verdict { Opens, Fails, Abandoned };

    explicit TFileTester(QObject* parent = nullptr);
    // Another worker program or time limit (the tests use stand-ins that hang
    // or die).
    TFileTester(const QString& program, const QStringList& arguments, int limitMs,
                QObject* parent = nullptr);
    ~TFileTester() override;

    // Hands a path to the worker and returns at once: the worker opens it
    // while the caller goes on with its own work.
    int Send(const QByteArray& path);
    // The verdict on what Send was given. Returns Abandoned, leaving the file
    // untried, when giveUp says so or the application is quitting.
    Verdict Wait(int ticket, const std::function<bool()>& giveUp = {});
    Verdict Test(const QByteArray& path, const std::function<bool()>& giveUp = {}) {
        return Wait(Send(path), giveUp);
    }
    // Why the last file that failed did not open.
    QString LastReason() const { return lastReason_; }

    // How many worker processes were started; a test watches restarts.
    int WorkersStarted() const { return started_; }

    // The worker program's place: beside the running program.
    static QString DefaultProgram();

    // The worker's side: reads requests from input, answers on output,
    // until input ends.
    static int RunWorker(int input, int output);

signals:
    void answered();

private:
    struct Request {
        int ticket;
        QByteArray path;
    };
    struct Result {
        bool opens;
        QString reason;
    };

    void SendNext();
    bool StartWorker();
    void StopWorker();
    void ReadAnswers();
    void WorkerEnded();
    void Settle(const Request& request, bool opens, const QString& reason);
    void CheckTimeLimit();

    QString program_;
    QStringList arguments_;
    int limitMs_;
    QProcess* worker_ = nullptr;
    bool workerMissing_ = false;
    int started_ = 0;
    int nextTicket_ = 1;
    std::deque<Request> queue_;
    std::optional<Request> inFlight_;
    QElapsedTimer inFlightSince_;
    std::map<int, Result> done_;
    QByteArray received_;
    QString lastReason_;
};
