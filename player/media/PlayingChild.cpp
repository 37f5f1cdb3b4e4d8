// The playing child's side of TPlayingWorker: a TPipelineDevice driven by
// the player's commands, reporting its state as it changes.

#include "player/media/DecoderPolicy.h"
#include "player/media/PipelineDevice.h"
#include "player/media/PlayingProtocol.h"
#include "player/media/Sinks.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>

using namespace PlayingProtocol;

namespace {

using Clock = std::chrono::steady_clock;

// While a track plays its position is reported this often, so that the
// player's clock and position bar move smoothly.
constexpr int PlayingReportMs = 50;
// Otherwise a report comes at least this often, to show the child alive.
constexpr int AliveReportMs = 1000;
// Right after a play the child looks this often until the stream moves, so
// that the player learns at once that the new track sounds.
constexpr int StartingReportMs = 5;

// A damaged file can make GStreamer complain for every buffer it meets, in a
// loop, hundreds of thousands of lines in one play. Each track says this
// much and no more.
constexpr int LogLinesPerTrack = 10;
std::atomic<int> trackLogLines{0};

void CappedLog(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer) {
    const int line = ++trackLogLines;
    if (line <= LogLinesPerTrack)
        g_log_default_handler(domain, level, message, nullptr);
    else if (line == LogLinesPerTrack + 1)
        g_log_default_handler(domain, level, "Further messages from this track are left out.",
                              nullptr);
}

TPlayingWorker::State StateOf(TPipelineDevice& device) {
    TPlayingWorker::State state;
    state.open = device.IsOpen();
    state.mode = device.Mode();
    state.position = device.Position();
    state.length = state.open ? device.Length() : 0;
    state.lastError = device.LastError();
    state.ffmpeg = FFmpegLoadedHere();
    state.spent = AbandonedPipelineCount() > 0;
    return state;
}

bool Same(const TPlayingWorker::State& a, const TPlayingWorker::State& b) {
    return a.open == b.open && a.mode == b.mode && a.position == b.position &&
           a.length == b.length && a.lastError == b.lastError;
}

QString Carry(TPipelineDevice& device, char command, const QByteArray& argument) {
    QDataStream in(argument);
    try {
        switch (command) {
        case OpenCommand: {
            QByteArray path;
            qint32 width = 0, height = 0;
            in >> path >> width >> height;
            trackLogLines = 0;
            SetVideoRoom(width, height);
            device.Open(path);
            break;
        }
        case PlayCommand:
            device.Play();
            break;
        case PauseCommand:
            device.Pause();
            break;
        case StopCommand:
            device.Stop();
            break;
        case SeekCommand: {
            qint64 ms = 0;
            in >> ms;
            device.Seek(ms);
            break;
        }
        case StreamTitleCommand: {
            QString title, artist;
            in >> title >> artist;
            device.SetStreamTitle(title, artist);
            break;
        }
        default:
            break;
        }
    } catch (const std::exception& error) {
        const QString reason = QString::fromUtf8(error.what());
        return reason.isEmpty() ? QStringLiteral("The file cannot be played.") : reason;
    }
    return {};
}

int Wait(int fd, short events, int timeoutMs) {
    pollfd wait{fd, events, 0};
    int ready;
    do
        ready = ::poll(&wait, 1, timeoutMs);
    while (ready < 0 && errno == EINTR);
    return ready;
}

} // namespace

int TPlayingWorker::Run(int input, int output, bool loadDecoders) {
    AllowEveryDecoderHere();
    g_log_set_default_handler(CappedLog, nullptr);
    InitGStreamer();
    // Made ready before the first command, which may be a while coming.
    AudioSinkFactory();
    VideoSinkFactory();
    // The plugins every file here needs; FFmpeg's when asked for. Loading
    // them is most of the first open's time.
    for (const char* name : {"playback", "typefindfunctions", "coreelements", "audioconvert",
                             "audioresample", "volume", "videoconvertscale", "asf", "libav"}) {
        if (!loadDecoders && std::strcmp(name, "libav") == 0)
            continue;
        if (GstPlugin* plugin = gst_plugin_load_by_name(name))
            gst_object_unref(plugin);
    }
    TPipelineDevice device(TMediaPlayer::Output::Real);
    try {
        device.MakePipeline();
    } catch (const EMCIDeviceError&) {
        // The open says why.
    }
    State reported;
    qint64 playedFrom = -1;
    auto lastReport = Clock::now();
    for (;;) {
        const bool playing = reported.mode == TMPModes::mpPlaying;
        int every = AliveReportMs;
        if (!device.IsOpen())
            every = -1;
        else if (playing)
            every = reported.position == playedFrom ? StartingReportMs : PlayingReportMs;
        const int ready = Wait(input, POLLIN, every);
        if (ready < 0)
            break;
        if (ready > 0) {
            QByteArray command;
            if (!TWorkerChannel::ReadFrame(input, command) || command.isEmpty())
                break;
            const QString error = Carry(device, command[0], command.mid(1));
            reported = StateOf(device);
            playedFrom = command[0] == PlayCommand ? reported.position : -1;
            lastReport = Clock::now();
            if (!TWorkerChannel::WriteFrame(output, Message(Answer, &error, reported)))
                break;
            continue;
        }
        const State now = StateOf(device);
        const bool due = Clock::now() - lastReport >= std::chrono::milliseconds(AliveReportMs);
        // Only while the player keeps reading: a report must never block the
        // child, and the player wants the latest one, not every one.
        if ((!Same(now, reported) || due) && Wait(output, POLLOUT, 0) > 0) {
            if (!TWorkerChannel::WriteFrame(output, Message(Report, nullptr, now)))
                break;
            reported = now;
            lastReport = Clock::now();
        }
    }
    device.Close();
    return 0;
}
