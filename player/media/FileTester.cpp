#include "player/media/FileTester.h"

#include "platform/FullTransfer.h"
#include "platform/HelperFiles.h"
#include "player/media/FileStamp.h"
#include "player/media/MediaPlayer.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace {

// The worker answers an open that hangs at the open limit; the margin only
// covers a worker that is too stuck even for that.
constexpr int LimitMarginMs = 500;
// How often a waiting caller looks at its giveUp condition.
constexpr int LookEveryMs = 20;
// Requests queued in one worker's pipe, so that it never waits for the
// window to read an answer before it can go on.
constexpr size_t QueuedPerWorker = 8;
// No path is this long; a length beyond it means the pipe is out of step.
constexpr quint32 LongestPath = 1 << 20;

// One try, as the player would open the file; the file is let go at once.
QString TryOpen(TMediaPlayer& player, const QByteArray& path) {
    player.FileName = path;
    try {
        player.OpenMedia();
        player.CloseMedia();
        return {};
    } catch (const std::exception& error) {
        const QString reason = QString::fromUtf8(error.what());
        return reason.isEmpty() ? QStringLiteral("The file cannot be played.") : reason;
    }
}

} // namespace

TFileTester::TFileTester(QObject* parent, int workers)
    : TFileTester(DefaultProgram(), {}, TMediaPlayer::OpenTimeoutMs + LimitMarginMs, parent,
                  workers) {}

TFileTester::TFileTester(const QString& program, const QStringList& arguments, int limitMs,
                         QObject* parent, int workers)
    : QObject(parent), program_(program), arguments_(arguments), limitMs_(limitMs),
      workers_(size_t(std::max(1, workers))) {}

TFileTester::~TFileTester() {
    for (Worker& worker : workers_)
        StopWorker(worker);
}

QString TFileTester::DefaultProgram() {
    return QFile::decodeName(HelperFile("tolvane-tester"));
}

int TFileTester::Send(const QByteArray& path) {
    const int ticket = nextTicket_++;
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
        if (giveUp && giveUp())
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
        if (loop.exec() != 1)
            break;
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
            if (!worker.process && !StartWorker(worker)) {
                // Without the worker program the file is tried here, which
                // is what the player did before it had one.
                TMediaPlayer player(nullptr, TMediaPlayer::Output::None);
                const QString reason = TryOpen(player, request.path);
                Settle(request, reason.isEmpty(), reason);
                continue;
            }
            worker.process->write(Frame(request.path));
            // Hand the request over now rather than at the next event loop
            // pass: the worker opens while the caller does its own work.
            worker.process->waitForBytesWritten(0);
            if (worker.inFlight.empty())
                worker.since.start();
            worker.inFlight.push_back(request);
        }
}

bool TFileTester::StartWorker(Worker& worker) {
    if (workerMissing_)
        return false;
    if (!QFileInfo(program_).isExecutable()) {
        workerMissing_ = true;
        return false;
    }
    const size_t index = size_t(&worker - workers_.data());
    worker.process = new QProcess(this);
    worker.process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(worker.process, &QProcess::readyReadStandardOutput, this, [this, index] {
        ReadAnswers(workers_[index]);
        SendNext();
    });
    connect(worker.process, &QProcess::finished, this,
            [this, index](int, QProcess::ExitStatus status) {
                WorkerEnded(workers_[index], status == QProcess::CrashExit);
            });
    connect(worker.process, &QProcess::errorOccurred, this,
            [this, index](QProcess::ProcessError error) {
                if (error != QProcess::FailedToStart)
                    return;
                // What it was given is tried here instead, as is all that
                // follows.
                workerMissing_ = true;
                Worker& failed = workers_[index];
                StopWorker(failed);
                queue_.insert(queue_.begin(), failed.inFlight.begin(), failed.inFlight.end());
                failed.inFlight.clear();
                SendNext();
            });
    // Not waited for: what is written meanwhile waits in the pipe, and the
    // window does not wait for the program to be loaded.
    worker.process->start(program_, arguments_);
    ++started_;
    worker.received.clear();
    return true;
}

void TFileTester::StopWorker(Worker& worker) {
    if (!worker.process)
        return;
    QProcess* process = worker.process;
    worker.process = nullptr;
    worker.received.clear();
    disconnect(process, nullptr, this, nullptr);
    process->kill();
    process->waitForFinished(1000);
    process->deleteLater();
}

void TFileTester::ReadAnswers(Worker& worker) {
    if (!worker.process)
        return;
    QByteArray& received = worker.received;
    received += worker.process->readAllStandardOutput();
    // An answer: one byte for the verdict, then the reason as a frame.
    constexpr int head = 1 + int(sizeof(quint32));
    while (received.size() >= head) {
        quint32 size = 0;
        std::memcpy(&size, received.constData() + 1, sizeof size);
        if (received.size() < head + qsizetype(size))
            break;
        const bool opens = received[0] == 1;
        const QString reason = QString::fromUtf8(received.mid(head, size));
        received.remove(0, head + size);
        if (worker.inFlight.empty())
            continue;
        const Request request = worker.inFlight.front();
        worker.inFlight.pop_front();
        worker.since.start();
        Settle(request, opens, reason);
    }
}

void TFileTester::WorkerEnded(Worker& worker, bool crashed) {
    ReadAnswers(worker);
    if (crashed) {
        Lose(worker, QStringLiteral("The file stopped the media device."));
    } else {
        // It left of its own accord, spent, between two files.
        StopWorker(worker);
        queue_.insert(queue_.begin(), worker.inFlight.begin(), worker.inFlight.end());
        worker.inFlight.clear();
    }
    SendNext();
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
            Lose(worker,
                 QStringLiteral("The file did not open within %1 seconds.").arg(limitMs_ / 1000));
    SendNext();
}

// Whether input has something to read (or has ended) within timeoutMs.
static bool InputWithin(int input, int timeoutMs) {
    pollfd wait{input, POLLIN, 0};
    int ready;
    do
        ready = ::poll(&wait, 1, timeoutMs);
    while (ready < 0 && errno == EINTR);
    return ready != 0;
}

int TFileTester::RunWorker(int input, int output, int letGoMs) {
    // FFmpeg's decoders only for the files that need them, as in the
    // player: they load here only for those, and the worker that holds them
    // leaves once idle.
    TMediaPlayer::TryFFmpegLast();
    TMediaPlayer player(nullptr, TMediaPlayer::Output::None);
    for (;;) {
        // Leaving between two files loses nothing: a request sent meanwhile
        // goes to the next worker.
        if (TMediaPlayer::HoldsFFmpegDecoders() && !InputWithin(input, letGoMs))
            return 0;
        quint32 size = 0;
        if (!ReadFully(input, &size, sizeof size) || size > LongestPath)
            return 0;
        QByteArray path(qsizetype(size), '\0');
        if (!ReadFully(input, path.data(), size))
            return 0;
        QString reason = TryOpen(player, path);
        if (!reason.isEmpty() && player.LackedDecoder())
            TMediaPlayer::WithEveryDecoder([&] {
                TMediaPlayer every(nullptr, TMediaPlayer::Output::None);
                reason = TryOpen(every, path);
            });
        const QByteArray answer = QByteArray(1, reason.isEmpty() ? 1 : 0) + Frame(reason.toUtf8());
        if (!WriteFully(output, answer))
            return 0;
        // A pipeline that would not stop left a thread behind that may spin
        // for good: this process is spent, and the player starts a new one.
        if (TMediaPlayer::AbandonedPipelines() > 0)
            return 0;
    }
}

TFileTester::Verdict TFileTester::TestUnlessKnown(const QByteArray& path,
                                                  const std::function<bool()>& giveUp) {
    const std::array<qint64, 5> stamp = FileStamp(path);
    const auto known = knownToOpen_.find(path);
    if (known != knownToOpen_.end() && known->second == stamp && stamp[1] != 0)
        return Verdict::Opens;
    const Verdict verdict = Test(path, giveUp);
    if (verdict == Verdict::Opens) {
        // A playlist session touches far fewer files; the bound only keeps a
        // pathological one from growing without end.
        if (knownToOpen_.size() >= 100000)
            knownToOpen_.clear();
        knownToOpen_[path] = stamp;
    } else {
        knownToOpen_.erase(path);
    }
    return verdict;
}
