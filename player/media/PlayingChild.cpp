// The playing child's side of TPlayingWorker: a TPipelineDevice driven by
// the player's commands, reporting its state as it changes.

#include "player/media/DecoderPolicy.h"
#include "player/media/FileStamp.h"
#include "player/media/LogCap.h"
#include "player/media/PipelineDevice.h"
#include "player/media/PlayingProtocol.h"
#include "player/media/Sinks.h"

#include <cerrno>
#include <chrono>
#include <future>
#include <poll.h>
#include <thread>
#include <utility>

using namespace PlayingProtocol;

namespace {

using Clock = std::chrono::steady_clock;

// A report comes at least this often, to show the child alive and where a
// playing track is; between two the player counts on from the last. Other
// reports come when the pipeline has something to say (its end, an error):
// a child that looked more often would wake the machine for nothing.
constexpr int AliveReportMs = 1000;
// Right after a play the child looks this often until the stream moves, so
// that the player learns at once that the new track sounds.
constexpr int StartingReportMs = 5;

TPlayingWorker::State StateOf(TPipelineDevice& device) {
    TPlayingWorker::State state;
    state.open = device.IsOpen();
    state.mode = device.Mode();
    state.position = device.Position();
    state.length = state.open ? device.Length() : 0;
    state.lastError = device.LastError();
    state.ffmpeg = FFmpegLoadedHere();
    state.spent = AbandonedPipelineCount() > 0;
    state.videoSize = device.VideoSize();
    state.at = Clock::now().time_since_epoch().count();
    return state;
}

bool Same(const TPlayingWorker::State& a, const TPlayingWorker::State& b) {
    return a.open == b.open && a.mode == b.mode && a.position == b.position &&
           a.length == b.length && a.lastError == b.lastError;
}

// opened: the stamp of the file opened before the player asked for it, as it
// was then (all zero when none was).
QString Carry(TPipelineDevice& device, char command, const QByteArray& argument,
              const std::array<qint64, 5>& opened) {
    QDataStream in(argument);
    try {
        switch (command) {
        case OpenCommand: {
            QByteArray path;
            quint64 window = 0;
            in >> path >> window;
            // The same file, however its name is spelled, and unchanged; a
            // video opens again, into the window it is to be shown in.
            if (device.IsOpen() && opened[1] != 0 && FileStamp(path) == opened &&
                !(window && device.HasVideo())) {
                device.SetVideoWindow(quintptr(window), {});
                break;
            }
            StartFileLog();
            device.SetVideoWindow(quintptr(window), {});
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
        case CloseCommand:
            device.Close();
            break;
        case RedrawCommand:
            device.RedrawVideo();
            break;
        case VideoWindowCommand: {
            quint64 window = 0;
            qint32 width = 0, height = 0;
            in >> window >> width >> height;
            device.SetVideoWindow(quintptr(window), QSize(width, height));
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

// Waits for a command on input or a message on the open pipeline's bus;
// returns whether a command came, or -1 when input failed.
int WaitForWork(int input, GstBus* bus, int timeoutMs) {
    pollfd waits[2] = {{input, POLLIN, 0}, {-1, POLLIN, 0}};
    GPollFD busFd{-1, 0, 0};
    if (bus) {
        gst_bus_get_pollfd(bus, &busFd);
        waits[1].fd = busFd.fd;
    }
    int ready;
    do
        ready = ::poll(waits, bus ? 2 : 1, timeoutMs);
    while (ready < 0 && errno == EINTR);
    if (ready < 0)
        return -1;
    return waits[0].revents != 0 ? 1 : 0;
}

} // namespace

int TPlayingWorker::Run(int input, int output, bool loadDecoders, const char* first) {
    AllowEveryDecoderHere();
    CapLogPerFile();
    InitGStreamer();
    // The plugins every file here needs, then FFmpeg's when asked for.
    // Loading them is most of the first open's time, and goes on beside the
    // waits for the sound server and the display below, and beside the
    // start of the first file's open. (Only its start: no thread can start
    // while the C library loads FFmpeg's libraries, and the pipeline's
    // streaming threads wait for the load's end.)
    std::promise<void> common;
    std::future<void> commonLoaded = common.get_future();
    std::thread loader([loadDecoders, common = std::move(common)]() mutable {
        for (const char* name : {"playback", "typefindfunctions", "coreelements", "audioconvert",
                                 "audioresample", "volume", "videoconvertscale", "asf"})
            if (GstPlugin* plugin = gst_plugin_load_by_name(name))
                gst_object_unref(plugin);
        common.set_value();
        if (loadDecoders)
            if (GstPlugin* plugin = gst_plugin_load_by_name("libav"))
                gst_object_unref(plugin);
    });
    // Made ready before the first command, which may be a while coming: the
    // first file's sink then finds the sound server's connection open.
    AudioSinkFactory();
    // Whether pictures reach the display is asked beside the first file,
    // not before it: the X server may be busy drawing the player's windows
    // as both start, or slow to answer at all (one the desktop starts on
    // demand), and a file without pictures never needs to know. A video
    // asks again and waits for this answer. Not waited for at the end: a
    // display that never answers must not keep the child.
    std::thread([] { VideoSinkFactory(); }).detach();
    commonLoaded.wait();
    TPipelineDevice device(TMediaPlayer::Output::Real);
    try {
        device.MakePipeline();
    } catch (const EMCIDeviceError&) {
        // The open says why.
    }
    // The file the program was started with, opened while the player's
    // window still starts: the player's open of it then finds it open. Not
    // yet in a window of the player's: a video opens there again. One that
    // fails fails again when the player opens it, and says why then.
    std::array<qint64, 5> opened{};
    if (first) {
        StartFileLog();
        const std::array<qint64, 5> stamp = FileStamp(QByteArray(first));
        try {
            device.Open(QByteArray(first));
            opened = stamp;
        } catch (const EMCIDeviceError&) {
        }
    }
    loader.join();
    if (!TWorkerChannel::WriteFrame(output, QByteArray(1, Ready)))
        return 0;
    State reported;
    // Played from there, and not yet reported moving from it: until then the
    // position is reported often.
    qint64 playedFrom = -1;
    bool moved = false;
    auto lastReport = Clock::now();
    for (;;) {
        const bool starting = reported.mode == TMPModes::mpPlaying && playedFrom >= 0 && !moved;
        int every = -1;
        if (starting) {
            every = StartingReportMs;
        } else if (device.IsOpen()) {
            const auto since =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastReport);
            every = int(std::max<qint64>(0, AliveReportMs - since.count()));
        }
        // The bus says when the pipeline ends, fails or settles; the device
        // takes its messages as it reports.
        const int ready = WaitForWork(input, device.IsOpen() ? device.Bus() : nullptr, every);
        if (ready < 0)
            break;
        if (ready > 0) {
            QByteArray command;
            if (!TWorkerChannel::ReadFrame(input, command) || command.isEmpty())
                break;
            // Only the player's first command may find its file open.
            const QString error =
                Carry(device, command[0], command.mid(1), std::exchange(opened, {}));
            reported = StateOf(device);
            if (command[0] == PlayCommand) {
                playedFrom = reported.position;
                moved = false;
            } else if (!LeavesPlay(command[0])) {
                playedFrom = -1;
            }
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
            moved = moved || now.position != playedFrom;
            lastReport = Clock::now();
        }
    }
    device.Close();
    return 0;
}
