#include "player/media/FileTester.h"

#include "platform/HelperFiles.h"
#include "player/media/MediaPlayer.h"
#include "player/media/TestingChild.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <climits>

namespace {

// The worker answers an open that hangs at the open limit; the margin only
// covers a worker that is too stuck even for that.
constexpr int LimitMarginMs = 500;
// How often a waiting caller looks at its giveUp condition.
constexpr int LookEveryMs = 20;
// Requests queued in one worker's pipe, so that it never waits for the
// window to read an answer before it can go on.
constexpr size_t QueuedPerWorker = 8;
// A worker may leave of its own accord with a file in hand (it was spent),
// and the file goes to the next one. A file that every worker leaves on is
// one they refuse, and fails.
constexpr int LeftOnAtMost = 2;

QString NameTooLongText() {
    return QStringLiteral("The file name is too long.");
}
} // namespace

TFileTester::TFileTester(QObject* parent, int workers)
    : TFileTester(DefaultProgram(), {}, TMediaPlayer::OpenTimeoutMs + LimitMarginMs, parent,
                  workers) {}

TFileTester::TFileTester(const QString& program, const QStringList& arguments, int limitMs,
                         QObject* parent, int workers)
    : QObject(parent), program_(QFile::encodeName(program)), limitMs_(limitMs),
      workers_(size_t(std::max(1, workers))) {
    for (const QString& argument : arguments)
        arguments_ << argument.toUtf8();
}

TFileTester::~TFileTester() {
    for (Worker& worker : workers_)
        StopWorker(worker);
}

QString TFileTester::DefaultProgram() {
    return QFile::decodeName(HelperFile("tolvane-tester"));
}

int TFileTester::Send(const QByteArray& path) {
    const int ticket = nextTicket_++;
    // Once the program is closing no worker is started again.
    if (quitting_)
        return ticket;
    // No file has such a name, and the worker would refuse the request.
    if (path.size() >= PATH_MAX) {
        Settle({ticket, path}, false, NameTooLongText());
        return ticket;
    }
    queue_.push_back({ticket, path});
    SendNext();
    return ticket;
}

TFileTester::Verdict TFileTester::Wait(int ticket, const std::function<bool()>& giveUp) {
    for (;;) {
        if (const auto it = done_.find(ticket); it != done_.end()) {
            const bool opens = it->second.opens;
            if (!opens)
                lastReason_ = it->second.reason;
            done_.erase(it);
            return opens ? Verdict::Opens : Verdict::Fails;
        }
        if (quitting_ || (giveUp && giveUp()))
            break;
        CheckTimeLimit();
        if (done_.count(ticket))
            continue;
        // A loop of our own rather than processEvents: quitting the
        // application ends it, so that closing the window or a termination
        // signal is never held up by a file.
        QEventLoop loop;
        QTimer::singleShot(LookEveryMs, &loop, [&loop] { loop.exit(1); });
        connect(this, &TFileTester::answered, &loop, [&loop] { loop.exit(1); });
        if (loop.exec() != 1) {
            quitting_ = true;
            break;
        }
    }
    // Left untried. A file in a worker's hands may be the one that hangs
    // it: that worker goes, and the next file gets a fresh one.
    done_.erase(ticket);
    std::erase_if(queue_, [ticket](const Request& r) { return r.ticket == ticket; });
    for (Worker& worker : workers_) {
        const auto mine = [ticket](const Request& r) { return r.ticket == ticket; };
        if (std::find_if(worker.inFlight.begin(), worker.inFlight.end(), mine) ==
            worker.inFlight.end())
            continue;
        std::erase_if(worker.inFlight, mine);
        // The others in its pipe are handed out again.
        StopWorker(worker);
        queue_.insert(queue_.begin(), worker.inFlight.begin(), worker.inFlight.end());
        worker.inFlight.clear();
    }
    SendNext();
    return Verdict::Abandoned;
}

void TFileTester::SendNext() {
    // Round by round, so that the files are spread over the workers.
    for (size_t round = 0; round < QueuedPerWorker; ++round)
        for (Worker& worker : workers_) {
            if (queue_.empty())
                return;
            if (worker.inFlight.size() > round)
                continue;
            const Request request = queue_.front();
            queue_.pop_front();
            if (!worker.channel.Running() && !StartWorker(worker)) {
                // Without the worker program the file is tried here, which
                // is what the player did before it had one.
                TMediaPlayer player(nullptr, TMediaPlayer::Output::None);
                const QString reason = TryToOpen(player, request.path);
                Settle(request, reason.isEmpty(), reason);
                continue;
            }
            if (!worker.channel.Send(TestRequest + request.path)) {
                queue_.push_front(request);
                WorkerEnded(worker);
                return;
            }
            if (worker.inFlight.empty())
                worker.since.start();
            worker.inFlight.push_back(request);
        }
}

bool TFileTester::StartWorker(Worker& worker) {
    if (workerMissing_)
        return false;
    if (!QFileInfo(QFile::decodeName(program_)).isExecutable() ||
        !worker.channel.Start(program_, arguments_)) {
        workerMissing_ = true;
        return false;
    }
    // Not waited for: what is sent meanwhile waits in the socket, and the
    // window does not wait for the program to be loaded.
    ++started_;
    const size_t index = size_t(&worker - workers_.data());
    worker.notifier = new QSocketNotifier(worker.channel.Socket(), QSocketNotifier::Read, this);
    connect(worker.notifier, &QSocketNotifier::activated, this, [this, index] {
        ReadAnswers(workers_[index]);
        SendNext();
    });
    return true;
}

// The notifier is disabled before its socket closes; it may be the one whose
// signal is being handled, so it goes later.
static void DropNotifier(QSocketNotifier*& notifier) {
    if (!notifier)
        return;
    notifier->setEnabled(false);
    notifier->deleteLater();
    notifier = nullptr;
}

void TFileTester::StopWorker(Worker& worker) {
    DropNotifier(worker.notifier);
    worker.channel.Kill();
}

void TFileTester::ReadAnswers(Worker& worker) {
    std::vector<QByteArray> answers;
    const bool alive = worker.channel.Collect(answers);
    for (const QByteArray& answer : answers) {
        bool opens = false;
        QString reason;
        if (!ReadTestAnswer(answer, opens, reason) || worker.inFlight.empty())
            continue;
        const Request request = worker.inFlight.front();
        worker.inFlight.pop_front();
        worker.since.start();
        Settle(request, opens, reason);
    }
    if (!alive)
        WorkerEnded(worker);
}

void TFileTester::WorkerEnded(Worker& worker) {
    DropNotifier(worker.notifier);
    if (worker.channel.Reap()) {
        Lose(worker, TWorkerChannel::StoppedText());
    } else {
        // It left of its own accord, spent, between two files.
        StopWorker(worker);
        if (!worker.inFlight.empty() && ++worker.inFlight.front().leftOn > LeftOnAtMost) {
            const Request refused = worker.inFlight.front();
            worker.inFlight.pop_front();
            Settle(refused, false, TWorkerChannel::CannotBePlayedText());
        }
        queue_.insert(queue_.begin(), worker.inFlight.begin(), worker.inFlight.end());
        worker.inFlight.clear();
    }
}

void TFileTester::Lose(Worker& worker, const QString& reason) {
    StopWorker(worker);
    if (worker.inFlight.empty())
        return;
    const Request failed = worker.inFlight.front();
    worker.inFlight.pop_front();
    queue_.insert(queue_.begin(), worker.inFlight.begin(), worker.inFlight.end());
    worker.inFlight.clear();
    Settle(failed, false, reason);
}

void TFileTester::Settle(const Request& request, bool opens, const QString& reason) {
    done_[request.ticket] = {opens, reason};
    emit answered();
}

void TFileTester::CheckTimeLimit() {
    for (Worker& worker : workers_)
        if (!worker.inFlight.empty() && worker.since.elapsed() > limitMs_)
            Lose(worker, TWorkerChannel::NotOpenedWithinText(limitMs_));
    SendNext();
}

TFileTester::Verdict TFileTester::TestUnlessKnown(const QByteArray& path,
                                                  const std::function<bool()>& giveUp) {
    if (knownToOpen_.Knows(path))
        return Verdict::Opens;
    const Verdict verdict = Test(path, giveUp);
    if (verdict == Verdict::Opens)
        knownToOpen_.Remember(path);
    else
        knownToOpen_.Forget(path);
    return verdict;
}
