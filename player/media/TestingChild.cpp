#include "player/media/TestingChild.h"

#include "player/media/LogCap.h"
#include "player/media/MediaPlayer.h"
#include "player/media/WorkerChannel.h"

#include <cerrno>
#include <poll.h>

namespace {

constexpr char TestAnswer = 'v';

// Whether input has something to read (or has ended) within timeoutMs.
bool InputWithin(int input, int timeoutMs) {
    pollfd wait{input, POLLIN, 0};
    int ready;
    do
        ready = ::poll(&wait, 1, timeoutMs);
    while (ready < 0 && errno == EINTR);
    return ready != 0;
}

} // namespace

QString TryToOpen(TMediaPlayer& player, const QByteArray& path) {
    player.FileName = path;
    try {
        player.OpenMedia();
        player.CloseMedia();
        return {};
    } catch (const std::exception& error) {
        const QString reason = QString::fromUtf8(error.what());
        return reason.isEmpty() ? TWorkerChannel::CannotBePlayedText() : reason;
    }
}

bool ReadTestAnswer(const QByteArray& frame, bool& opens, QString& reason) {
    if (frame.size() < 2 || frame[0] != TestAnswer)
        return false;
    opens = frame[1] == 1;
    reason = QString::fromUtf8(frame.mid(2));
    return true;
}

int RunTestingChild(int input, int output, int letGoMs) {
    // FFmpeg's decoders only for the files that need them, as in the
    // player: they load here only for those, and the worker that holds them
    // leaves once idle.
    TMediaPlayer::TryFFmpegLast();
    CapLogPerFile();
    TMediaPlayer player(nullptr, TMediaPlayer::Output::None);
    for (;;) {
        // Leaving between two files loses nothing: a request sent meanwhile
        // goes to the next worker.
        if (TMediaPlayer::HoldsFFmpegDecoders() && !InputWithin(input, letGoMs))
            return 0;
        QByteArray request;
        if (!TWorkerChannel::ReadFrame(input, request) || !request.startsWith(TestRequest))
            return 0;
        const QByteArray path = request.mid(TestRequest.size());
        StartFileLog();
        QString reason = TryToOpen(player, path);
        if (!reason.isEmpty() && player.LackedDecoder())
            TMediaPlayer::WithEveryDecoder([&] {
                TMediaPlayer every(nullptr, TMediaPlayer::Output::None);
                reason = TryToOpen(every, path);
            });
        QByteArray answer(1, TestAnswer);
        answer += char(reason.isEmpty() ? 1 : 0);
        answer += reason.toUtf8();
        if (!TWorkerChannel::WriteFrame(output, answer))
            return 0;
        // A pipeline that would not stop left a thread behind that may spin
        // for good: this process is spent, and the player starts a new one.
        if (TMediaPlayer::AbandonedPipelines() > 0)
            return 0;
    }
}
