#include "player/media/PipelineDevice.h"

#include "platform/PathNames.h"
#include "player/media/DecoderPolicy.h"
#include "player/media/Midi.h"
#include "player/media/Probing.h"
#include "player/media/Sinks.h"
#include "player/media/SoundServerSink.h"

#include <algorithm>
#include <memory>

namespace {

// A seek or a pause on a file that has opened completes in milliseconds; the
// bound only keeps a wedged decoder from hanging the caller.
constexpr int SettleTimeoutMs = 3000;

// playbin's GstPlayFlags: video, audio, software volume, deinterlacing. No
// subtitles and no visualisation, which a plain player has no use for.
constexpr guint PlayFlags = 0x1 | 0x2 | 0x10 | 0x200;

} // namespace

TPipelineDevice::~TPipelineDevice() {
    Close();
    if (playbin_) {
        seeker_.Wait();
        StopPipeline(playbin_);
    }
    Release();
    WaitForStoppingPipelines();
}

// Drops this device's references without touching the pipeline's state; the
// next open builds a new one.
void TPipelineDevice::Release() {
    if (!playbin_)
        return;
    gst_object_unref(bus_);
    gst_object_unref(playbin_);
    if (windowSink_)
        gst_object_unref(windowSink_);
    gst_object_unref(hiddenSink_);
    playbin_ = windowSink_ = hiddenSink_ = videoSink_ = fitFilter_ = nullptr;
    bus_ = nullptr;
}

void TPipelineDevice::MakePipeline() {
    if (playbin_)
        return;
    InitGStreamer();
    ApplyDecoderPolicy();
    RegisterMidiSynth();
    GstElement* bin = gst_element_factory_make("playbin", nullptr);
    GstElement* fake = MakeSink("fakesink");
    if (!bin || !fake) {
        for (GstElement* made : {bin, fake})
            if (made)
                gst_object_unref(gst_object_ref_sink(made));
        throw EMCIDeviceError("GStreamer's playbin or fakesink is not installed.");
    }
    playbin_ = GST_ELEMENT(gst_object_ref_sink(bin));
    faulted_ = false;
    hiddenSink_ = GST_ELEMENT(gst_object_ref_sink(fake));
    bus_ = gst_element_get_bus(playbin_);
    // The audio sink's own clock was seen to stand still after seeks in
    // pause (an MPEG with sound and picture, now and then): every sink then
    // waits on it for good, the position never moves and the track never
    // ends. The system clock always runs, and the audio sink follows it.
    GstClock* clock = gst_system_clock_obtain();
    gst_pipeline_use_clock(GST_PIPELINE(playbin_), clock);
    gst_object_unref(clock);
    g_object_set(playbin_, "flags", PlayFlags, nullptr);
    // A player that only tests files has nothing to play to: no stream on
    // the sound server, no round trips to it at every open.
    if (GstElement* sink = MakeSink(
            output_ == TMediaPlayer::Output::Real ? AudioSinkFactory() : QByteArray("fakesink")))
        g_object_set(playbin_, "audio-sink", sink, nullptr);
}

GstElement* TPipelineDevice::WindowSink() {
    if (!windowSink_ && playbin_ && output_ == TMediaPlayer::Output::Real &&
        VideoSinkFactory() != "fakesink" && (windowSink_ = MakeWindowSink(fitFilter_)))
        gst_object_ref_sink(windowSink_);
    return windowSink_;
}

// Only while the pipeline stands below PAUSED.
void TPipelineDevice::ShowVideoInWindow(bool window) {
    GstElement* sink = window && windowSink_ ? windowSink_ : hiddenSink_;
    if (sink != videoSink_)
        g_object_set(playbin_, "video-sink", sink, nullptr);
    videoSink_ = sink;
}

// READY, not NULL, between the tracks of a player: playbin takes its sinks
// down to NULL either way (the sound server's stream goes), but keeps its
// own elements for the next file. A device that tests files meets damaged
// ones and starts afresh. A player's pipeline that met an error is let stop
// on its own while the next file opens in a new one: its way down cost the
// next track tens of milliseconds, now and then a hundred.
void TPipelineDevice::Shut() {
    seeker_.Wait();
    const bool real = output_ == TMediaPlayer::Output::Real;
    const GstState down = real && !faulted_ ? GST_STATE_READY : GST_STATE_NULL;
    // A file turned down before the pipeline was started leaves nothing to
    // stop.
    if (playbin_ && GST_STATE(playbin_) <= down &&
        GST_STATE_PENDING(playbin_) == GST_STATE_VOID_PENDING) {
    } else if (playbin_ && real && down == GST_STATE_NULL) {
        LetPipelineStop(playbin_);
        Release();
    } else if (playbin_ && !StopPipeline(playbin_, down)) {
        Release();
    }
    if (down == GST_STATE_NULL)
        faulted_ = false;
    open_ = false;
    mode_ = TMPModes::mpNotReady;
    length_ = lastPosition_ = 0;
    ended_ = parkedAtEnd_ = lengthScanned_ = hasVideo_ = false;
    videoSize_ = videoWindowSize_ = {};
    seekPending_ = standingAtTarget_ = false;
}

void TPipelineDevice::FailOpen(const QString& reason) {
    Shut();
    lastError_ = reason;
    throw EMCIDeviceError(reason.toStdString());
}

bool TPipelineDevice::QueryLength() {
    gint64 duration = -1;
    if (!gst_element_query_duration(playbin_, GST_FORMAT_TIME, &duration) || duration <= 0)
        return false;
    length_ = duration / GST_MSECOND;
    return length_ > 0;
}

// Brings the pipeline to PAUSED on its first frame; returns why it could
// not, or nothing.
QString TPipelineDevice::Preroll(MediaClock::time_point deadline) {
    // Messages of the previous file must not be taken for this one's.
    gst_bus_set_flushing(bus_, TRUE);
    gst_bus_set_flushing(bus_, FALSE);
    pluginMissing_ = false;
    if (gst_element_set_state(playbin_, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
        faulted_ = true;
        GstMessage* message = NextMessage(GST_MESSAGE_ERROR, 0);
        const QString reason =
            message ? ErrorText(message) : QStringLiteral("The file cannot be played.");
        if (message)
            gst_message_unref(message);
        return reason;
    }
    GstMessage* message = NextMessage(GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_ASYNC_DONE),
                                      MillisecondsLeft(deadline));
    if (!message || GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR)
        faulted_ = true;
    if (!message)
        return QStringLiteral("The file did not open within %1 seconds.")
            .arg(TMediaPlayer::OpenTimeoutMs / 1000);
    const QString reason =
        GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR ? ErrorText(message) : QString();
    gst_message_unref(message);
    return reason;
}

// The next message of the given types within ms, noting on the way whether
// the pipeline found a plugin missing (a stream it cannot decode, which it
// reports before the error or instead of one).
GstMessage* TPipelineDevice::NextMessage(GstMessageType types, int ms) {
    const auto deadline = MediaClock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        GstMessage* message =
            gst_bus_timed_pop_filtered(bus_, GstClockTime(MillisecondsLeft(deadline)) * GST_MSECOND,
                                       GstMessageType(types | GST_MESSAGE_ELEMENT));
        if (!message || GST_MESSAGE_TYPE(message) != GST_MESSAGE_ELEMENT)
            return message;
        if (gst_message_has_name(message, "missing-plugin"))
            pluginMissing_ = true;
        gst_message_unref(message);
    }
}

void TPipelineDevice::Open(const QByteArray& path) {
    Close();
    const QString unplayable = UnplayablePathReason(path);
    if (!unplayable.isEmpty())
        FailOpen(unplayable);
    MakePipeline();
    // The text GStreamer's own type finder gives.
    bool pictures = false;
    if (!HasMediaType(path, &pictures))
        FailOpen(QStringLiteral("Could not determine type of stream."));
    OpenPipeline(path, pictures);
}

void TPipelineDevice::OpenPipeline(const QByteArray& path, bool pictures) {
    // Until the tags are read the stream goes by the file's name.
    streamTitle_ = PathText(DisplayName(path));
    streamArtist_.clear();
    const auto deadline =
        MediaClock::now() + std::chrono::milliseconds(TMediaPlayer::OpenTimeoutMs);
    GError* error = nullptr;
    gchar* uri = gst_filename_to_uri(path.constData(), &error);
    if (!uri) {
        const QString reason = QString::fromUtf8(error ? error->message : "Invalid file name");
        g_clear_error(&error);
        FailOpen(reason);
    }
    const std::unique_ptr<gchar, decltype(&g_free)> address(uri, g_free);
    // A video whose window is known prerolls there at once, at its own
    // size; a file that turns out to hold pictures after all moves there
    // when it first plays. Sound alone never takes the window sink up (nor
    // a connection to the X server with it).
    const bool window = pictures && videoWindow_ && WindowSink();
    if (window) {
        ScaleVideo(fitFilter_, {});
        DrawInto(windowSink_, videoWindow_);
    }
    g_object_set(playbin_, "uri", uri, nullptr);
    ShowVideoInWindow(window);
    QString failure = Preroll(deadline);
    if (!failure.isEmpty() && window && !pluginMissing_) {
        // Should the window fail, the video opens unseen rather than not
        // at all.
        gst_element_set_state(playbin_, GST_STATE_NULL);
        ShowVideoInWindow(false);
        failure = Preroll(deadline);
    }
    if (!failure.isEmpty())
        FailOpen(failure);
    NameStream();
    gint audio = 0, video = 0;
    g_object_get(playbin_, "n-audio", &audio, "n-video", &video, nullptr);
    if (audio + video == 0)
        FailOpen(QStringLiteral("The file holds no sound and no picture."));
    hasVideo_ = video > 0;
    // A player that only tests files shows nothing, not even a window of
    // its caller's.
    if (hasVideo_ && output_ == TMediaPlayer::Output::Real)
        videoSize_ = ShownVideoSize(playbin_);

    if (!QueryLength()) {
        length_ = ScanLength(path, deadline);
        if (length_ <= 0)
            FailOpen(QStringLiteral("The length of the file cannot be determined."));
        lengthScanned_ = true;
    }
    open_ = true;
    mode_ = TMPModes::mpStopped;
    lastError_.clear();
}

void TPipelineDevice::SetVideoWindow(quintptr window, const QSize& size) {
    videoWindow_ = window;
    if (!open_ || !hasVideo_)
        return;
    videoWindowSize_ = size;
    // Without a window the sink is left as it is: told of none, it would
    // open one of its own.
    if (!windowSink_ || videoSink_ != windowSink_ || !window)
        return;
    // Prerolled into the window at the open: the sink learns the window's
    // new size (it watches no events of the window's), and the picture
    // there takes that size, by a preroll at the same place in it.
    DrawInto(windowSink_, window);
    Redraw(windowSink_);
    if (FitsSize(fitFilter_, size))
        return;
    ScaleVideo(fitFilter_, size);
    if (mode_ != TMPModes::mpPlaying && !ended_ && !parkedAtEnd_)
        SeekTo(Position());
}

// Before pictures first play: the pipeline is taken back to READY, given the
// window sink and brought to the same place again. Should the window fail,
// the video plays on unseen rather than not at all. Without a window of the
// player's to draw into, the sink would open one of its own: the pictures
// then stay unseen.
void TPipelineDevice::MoveVideoToWindow(qint64 at) {
    if (!hasVideo_ || !videoWindow_ || !WindowSink() || videoSink_ == windowSink_)
        return;
    seeker_.Wait();
    const auto deadline =
        MediaClock::now() + std::chrono::milliseconds(TMediaPlayer::OpenTimeoutMs);
    ScaleVideo(fitFilter_, videoWindowSize_);
    DrawInto(windowSink_, videoWindow_);
    gst_element_set_state(playbin_, GST_STATE_READY);
    ShowVideoInWindow(true);
    QString failure = Preroll(deadline);
    if (!failure.isEmpty()) {
        lastError_ = failure;
        gst_element_set_state(playbin_, GST_STATE_NULL);
        ShowVideoInWindow(false);
        failure = Preroll(deadline);
    }
    if (!failure.isEmpty())
        lastError_ = failure;
    else if (at > 0)
        SeekTo(at);
}

void TPipelineDevice::RedrawVideo() {
    if (open_ && hasVideo_ && windowSink_ && videoSink_ == windowSink_)
        Redraw(windowSink_);
}

void TPipelineDevice::MarkEnded() {
    ended_ = true;
    parkedAtEnd_ = false;
    mode_ = TMPModes::mpStopped;
    lastPosition_ = length_;
    PausePipeline();
}

// Takes what the pipeline has reported since the last look. honourEnd is
// false right after a flushing seek: an end reported before the seek no
// longer holds.
void TPipelineDevice::Poll(bool honourEnd) {
    if (!open_)
        return;
    SeekSettled();
    while (GstMessage* message = gst_bus_pop(bus_)) {
        switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_EOS:
            // The sinks end only once they have prerolled at the target:
            // while the seek settles, an end is one from before it.
            if (honourEnd && SeekSettled() && mode_ == TMPModes::mpPlaying)
                MarkEnded();
            break;
        case GST_MESSAGE_ERROR:
            faulted_ = true;
            // A stream that breaks off while playing (a file cut short, the
            // video window closed) ends the track, so that the player goes
            // on with the next one instead of waiting for an end forever.
            lastError_ = ErrorText(message);
            if (mode_ == TMPModes::mpPlaying)
                MarkEnded();
            break;
        case GST_MESSAGE_DURATION_CHANGED:
            if (!lengthScanned_)
                QueryLength();
            break;
        default:
            break;
        }
        gst_message_unref(message);
    }
    if (standingAtTarget_ && SeekSettled() && mode_ == TMPModes::mpPlaying)
        standingAtTarget_ = false;
}

void TPipelineDevice::Settle() {
    gst_element_get_state(playbin_, nullptr, nullptr, SettleTimeoutMs * GST_MSECOND);
}

// Pauses the pipeline at ms and waits until it stands there.
bool TPipelineDevice::SeekTo(qint64 ms) {
    seeker_.Wait();
    gst_element_set_state(playbin_, GST_STATE_PAUSED);
    Settle();
    const bool done = gst_element_seek_simple(
        playbin_, GST_FORMAT_TIME, GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
        ms * GST_MSECOND);
    if (!done) {
        lastError_ = QStringLiteral("The device cannot seek in this file.");
        return false;
    }
    Settle();
    Poll(false);
    ended_ = parkedAtEnd_ = seekPending_ = standingAtTarget_ = false;
    lastPosition_ = ms;
    return true;
}

void TPipelineDevice::StartSeek(qint64 ms) {
    Poll(false); // an end reported so far no longer holds
    seeker_.Start(playbin_, ms);
    ended_ = parkedAtEnd_ = false;
    seekPending_ = standingAtTarget_ = true;
    lastPosition_ = ms;
}

// The pipeline has prerolled at the last target: the seeker is done, and the
// pipeline regained the state that the flushing seek made it lose.
bool TPipelineDevice::SeekSettled() {
    if (!seekPending_)
        return true;
    bool failed = false;
    if (seeker_.Busy(failed))
        return false;
    if (failed)
        lastError_ = QStringLiteral("The device cannot seek in this file.");
    if (gst_element_get_state(playbin_, nullptr, nullptr, 0) != GST_STATE_CHANGE_ASYNC)
        seekPending_ = false;
    return !seekPending_;
}

// A seek in flight is left paused, rather than played on when it is sent.
void TPipelineDevice::PausePipeline() {
    seeker_.TakeOver(false);
    gst_element_set_state(playbin_, GST_STATE_PAUSED);
}

void TPipelineDevice::PlayPipeline() {
    mode_ = TMPModes::mpPlaying;
    if (seeker_.TakeOver(true))
        return;
    if (gst_element_set_state(playbin_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        lastError_ = QStringLiteral("The device cannot play this file.");
}

// The sound server's stream is the process's, named after the track that
// plays into it.
void TPipelineDevice::NameStream() {
    if (output_ == TMediaPlayer::Output::Real)
        NameSoundServerStream(streamTitle_, streamArtist_);
}

void TPipelineDevice::SetStreamTitle(const QString& title, const QString& artist) {
    if (!open_ || title.isEmpty())
        return;
    streamTitle_ = title;
    streamArtist_ = artist;
    NameStream();
}

void TPipelineDevice::Close() {
    if (open_)
        Shut();
}

void TPipelineDevice::Play() {
    Poll();
    if (parkedAtEnd_) {
        MarkEnded();
        return;
    }
    MoveVideoToWindow(ended_ ? 0 : Position());
    if (ended_ && !SeekTo(0)) {
        // Starting the file afresh rewinds it as well, only more slowly.
        gst_element_set_state(playbin_, GST_STATE_READY);
        ended_ = false;
        lastPosition_ = 0;
    }
    PlayPipeline();
}

void TPipelineDevice::Pause() {
    switch (Mode()) {
    case TMPModes::mpPlaying:
        PausePipeline();
        mode_ = TMPModes::mpPaused;
        break;
    case TMPModes::mpPaused:
        Play();
        break;
    default:
        break;
    }
}

void TPipelineDevice::Stop() {
    Poll();
    if (ended_ || parkedAtEnd_)
        return;
    PausePipeline();
    mode_ = TMPModes::mpStopped;
}

void TPipelineDevice::Seek(qint64 ms) {
    Poll();
    ms = std::clamp<qint64>(ms, 0, length_);
    if (ms >= length_) {
        PausePipeline();
        ended_ = standingAtTarget_ = false;
        parkedAtEnd_ = true;
        lastPosition_ = length_;
    } else {
        StartSeek(ms);
    }
    mode_ = TMPModes::mpStopped;
}

qint64 TPipelineDevice::Position() {
    if (!open_)
        return 0;
    Poll();
    if (ended_ || parkedAtEnd_)
        return length_;
    if (standingAtTarget_)
        return lastPosition_;
    gint64 position = -1;
    if (gst_element_query_position(playbin_, GST_FORMAT_TIME, &position) && position >= 0)
        lastPosition_ = std::min<qint64>(position / GST_MSECOND, length_);
    return lastPosition_;
}

qint64 TPipelineDevice::Length() {
    Poll();
    return length_;
}

TMPModes TPipelineDevice::Mode() {
    if (!open_)
        return TMPModes::mpNotReady;
    Poll();
    if (ended_ || parkedAtEnd_)
        return TMPModes::mpStopped;
    return mode_;
}
