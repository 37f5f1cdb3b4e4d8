#include "player/FileTester.h"

#include "player/MediaPlayer.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

// The worker answers an open that hangs at the open limit; the margin only
// covers a worker that is too stuck even for that.
constexpr int LimitMarginMs = 500;
// How often a waiting caller looks at its giveUp condition.
constexpr int LookEveryMs = 20;
// No path is this long; a length beyond it means the pipe is out of step.
constexpr quint32 LongestPath = 1 << 20;

bool ReadFully(int fd, void* buffer, size_t size) {
    auto* at = static_cast<char*>(buffer);
    while (size > 0) {
        const ssize_t got = ::read(fd, at, size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        at += got;
        size -= size_t(got);
    }
    return true;
}

bool WriteFully(int fd, const QByteArray& data) {
    const char* at = data.constData();
    size_t size = size_t(data.size());
    while (size > 0) {
        const ssize_t put = ::write(fd, at, size);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        at += put;
        size -= size_t(put);
    }
    return true;
}

QByteArray Frame(const QByteArray& body) {
    const quint32 size = quint32(body.size());
    return QByteArray(reinterpret_cast<const char*>(&size), sizeof size) + body;
}

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

TFileTester::TFileTester(QObject* parent)
    : TFileTester(DefaultProgram(), {}, TMediaPlayer::OpenTimeoutMs + LimitMarginMs, parent) {}

TFileTester::TFileTester(const QString& program, const QStringList& arguments, int limitMs,
                         QObject* parent)
    : QObject(parent), program_(program), arguments_(arguments), limitMs_(limitMs) {}

TFileTester::~TFileTester() {
    StopWorker();
}

QString TFileTester::DefaultProgram() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/tolvane-tester");
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
    // Left untried. A file in the worker's hands may be the one that hangs
    // it: the worker goes, and the next file gets a fresh one.
    done_.erase(ticket);
    std::erase_if(queue_, [ticket](const Request& r) { return r.ticket == ticket; });
    if (inFlight_ && inFlight_->ticket == ticket) {
        inFlight_.reset();
        StopWorker();
        SendNext();
    }
    return Verdict::Abandoned;
}

void TFileTester::SendNext() {
    while (!inFlight_ && !queue_.empty()) {
        const Request request = queue_.front();
        queue_.pop_front();
        if (!worker_ && !StartWorker()) {
            // Without the worker program the file is tried here, which is
            // what the player did before it had one.
            TMediaPlayer player(nullptr, TMediaPlayer::Output::None);
            const QString reason = TryOpen(player, request.path);
            Settle(request, reason.isEmpty(), reason);
            continue;
        }
        worker_->write(Frame(request.path));
        // Hand the request over now rather than at the next event loop pass:
        // the worker opens while the caller does its own work.
        worker_->waitForBytesWritten(0);
        inFlight_ = request;
        inFlightSince_.start();
    }
}

bool TFileTester::StartWorker() {
    if (workerMissing_)
        return false;
    if (!QFileInfo(program_).isExecutable()) {
        workerMissing_ = true;
        return false;
    }
    worker_ = new QProcess(this);
    worker_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(worker_, &QProcess::readyReadStandardOutput, this, &TFileTester::ReadAnswers);
    connect(worker_, &QProcess::finished, this, &TFileTester::WorkerEnded);
    worker_->start(program_, arguments_);
    if (!worker_->waitForStarted()) {
        delete worker_;
        worker_ = nullptr;
        workerMissing_ = true;
        return false;
    }
    ++started_;
    received_.clear();
    return true;
}

void TFileTester::StopWorker() {
    if (!worker_)
        return;
    QProcess* worker = worker_;
    worker_ = nullptr;
    disconnect(worker, nullptr, this, nullptr);
    worker->kill();
    worker->waitForFinished(1000);
    worker->deleteLater();
    received_.clear();
}

void TFileTester::ReadAnswers() {
    if (!worker_)
        return;
    received_ += worker_->readAllStandardOutput();
    // An answer: one byte for the verdict, then the reason as a frame.
    constexpr int head = 1 + int(sizeof(quint32));
    while (received_.size() >= head) {
        quint32 size = 0;
        std::memcpy(&size, received_.constData() + 1, sizeof size);
        if (received_.size() < head + qsizetype(size))
            return;
        const bool opens = received_[0] == 1;
        const QString reason = QString::fromUtf8(received_.mid(head, size));
        received_.remove(0, head + size);
        if (!inFlight_)
            continue; // the answer to a request given up meanwhile
        const Request request = *inFlight_;
        inFlight_.reset();
        Settle(request, opens, reason);
    }
    SendNext();
}

void TFileTester::WorkerEnded() {
    ReadAnswers();
    if (worker_) {
        worker_->deleteLater();
        worker_ = nullptr;
    }
    received_.clear();
    if (inFlight_) {
        const Request request = *inFlight_;
        inFlight_.reset();
        Settle(request, false, QStringLiteral("The file stopped the media device."));
    }
    SendNext();
}

void TFileTester::Settle(const Request& request, bool opens, const QString& reason) {
    done_[request.ticket] = {opens, reason};
    emit answered();
}

void TFileTester::CheckTimeLimit() {
    if (!inFlight_ || inFlightSince_.elapsed() <= limitMs_)
        return;
    const Request request = *inFlight_;
    inFlight_.reset();
    StopWorker();
    Settle(request, false,
           QStringLiteral("The file did not open within %1 seconds.").arg(limitMs_ / 1000));
    SendNext();
}

int TFileTester::RunWorker(int input, int output) {
    TMediaPlayer player(nullptr, TMediaPlayer::Output::None);
    for (;;) {
        quint32 size = 0;
        if (!ReadFully(input, &size, sizeof size) || size > LongestPath)
            return 0;
        QByteArray path(qsizetype(size), '\0');
        if (!ReadFully(input, path.data(), size))
            return 0;
        const QString reason = TryOpen(player, path);
        const QByteArray answer = QByteArray(1, reason.isEmpty() ? 1 : 0) + Frame(reason.toUtf8());
        if (!WriteFully(output, answer))
            return 0;
        // A pipeline that would not stop left a thread behind that may spin
        // for good: this process is spent, and the player starts a new one.
        if (TMediaPlayer::AbandonedPipelines() > 0)
            return 0;
    }
}
