#include "player/media/SoundServerSink.h"

#include <gst/audio/gstaudiosink.h>
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>

namespace {

// Long enough for the player to open the next file after a track's end or
// a Next, the slow ones too (a MIDI file loads its soundfont first, which
// took over a second under the sanitizers), and as long as a closed child
// waits for a next file: a player stopped for good shows the desktop no
// stream of its own once its child has gone.
constexpr pa_usec_t IdleStreamUs = 5000 * PA_USEC_PER_MSEC;
// A server that does not answer a connection or a new stream in this time
// (it hangs) is taken for none.
constexpr auto AnswerTimeout = std::chrono::seconds(5);

constexpr int Channels = 2;

// The process's one connection to the sound server and its one stream,
// driven by a thread of libpulse's own. Every call holds that thread's lock;
// the sinks of all pipelines call in from their streaming threads, and the
// sink that last prepared owns the stream: calls from any other (a pipeline
// stopping beside the next one) leave it alone.
class KeptStream {
public:
    KeptStream() {
        loop_ = pa_threaded_mainloop_new();
        pa_threaded_mainloop_start(loop_);
    }

    bool Connect() {
        Locked hold(loop_);
        return ConnectLocked();
    }

    bool Take(GstAudioSink* sink, GstAudioRingBufferSpec* spec);
    void Leave(GstAudioSink* sink);
    int Write(GstAudioSink* sink, gconstpointer data, guint length);
    guint Delay(GstAudioSink* sink);
    void Cork(GstAudioSink* sink, bool cork);
    void Flush(GstAudioSink* sink);
    void Name(const QString& title, const QString& artist);

private:
    struct Locked {
        explicit Locked(pa_threaded_mainloop* loop) : loop(loop) { pa_threaded_mainloop_lock(loop); }
        ~Locked() { pa_threaded_mainloop_unlock(loop); }
        pa_threaded_mainloop* loop;
    };

    bool ConnectLocked();
    bool MakeStream(int rate, const GstAudioRingBufferSpec& spec);
    void DropStream();
    void DropContext();
    bool StreamReady() const {
        return stream_ && pa_stream_get_state(stream_) == PA_STREAM_READY;
    }
    // Waits (the lock let go meanwhile) until done() holds or the server
    // has not answered in time; returns done().
    template <class Done> bool WaitFor(Done done);
    // Waits for an operation to finish; whether it succeeded.
    bool Finish(pa_operation* operation);
    void Forget(pa_operation* operation) {
        if (operation)
            pa_operation_unref(operation);
    }
    void Wake() { pa_threaded_mainloop_signal(loop_, 0); }
    void ApplyName();
    void StartIdleTimer();
    void StopIdleTimer();

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    pa_time_event* idle_ = nullptr;
    GstAudioSink* owner_ = nullptr;
    int rate_ = 0;
    bool corked_ = true;
    // A write waiting for room returns at once: the sink paused, stopped or
    // flushed, and its ring buffer no longer wants the segment written.
    bool interrupted_ = false;
    // The stream is corked only until it has sound: a new track's, or after
    // a flush. A pause's cork stays until the sink resumes.
    bool startOnWrite_ = true;
    // The last operation waited for by Finish succeeded.
    bool succeeded_ = false;
    bool deadline_ = false;
    QByteArray title_ = "Tolvane";
    QByteArray artist_;
};

KeptStream& Output() {
    // Lives as long as the process: the streaming threads of pipelines
    // stopping in the background may still call in while it ends.
    static KeptStream* output = new KeptStream;
    return *output;
}

template <class Done> bool KeptStream::WaitFor(Done done) {
    if (done())
        return true;
    deadline_ = false;
    pa_time_event* timer = pa_context_rttime_new(
        context_,
        pa_rtclock_now() +
            std::chrono::duration_cast<std::chrono::microseconds>(AnswerTimeout).count(),
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* self) {
            static_cast<KeptStream*>(self)->deadline_ = true;
            static_cast<KeptStream*>(self)->Wake();
        },
        this);
    while (!done() && !deadline_)
        pa_threaded_mainloop_wait(loop_);
    if (timer)
        pa_threaded_mainloop_get_api(loop_)->time_free(timer);
    return done();
}

bool KeptStream::Finish(pa_operation* operation) {
    if (!operation)
        return false;
    succeeded_ = false;
    WaitFor([operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; });
    pa_operation_unref(operation);
    return succeeded_;
}

bool KeptStream::ConnectLocked() {
    if (context_ && pa_context_get_state(context_) == PA_CONTEXT_READY)
        return true;
    DropContext();
    pa_proplist* identity = pa_proplist_new();
    // The volume controls show the program's name and icon by its stream,
    // whichever process plays it.
    pa_proplist_sets(identity, PA_PROP_APPLICATION_NAME, "Tolvane");
    pa_proplist_sets(identity, PA_PROP_APPLICATION_ID, "tolvane");
    pa_proplist_sets(identity, PA_PROP_APPLICATION_ICON_NAME, "tolvane");
    context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), "Tolvane",
                                            identity);
    pa_proplist_free(identity);
    if (!context_)
        return false;
    pa_context_set_state_callback(
        context_, [](pa_context*, void* self) { static_cast<KeptStream*>(self)->Wake(); }, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0) {
        DropContext();
        return false;
    }
    // The deadline's timer runs on the context, which exists from here on.
    const bool ready = WaitFor([this] {
        const pa_context_state_t state = pa_context_get_state(context_);
        return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
    }) && pa_context_get_state(context_) == PA_CONTEXT_READY;
    if (!ready)
        DropContext();
    return ready;
}

void KeptStream::DropContext() {
    DropStream();
    if (!context_)
        return;
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    context_ = nullptr;
}

void KeptStream::DropStream() {
    StopIdleTimer();
    if (!stream_)
        return;
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_write_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
    rate_ = 0;
    Wake();
}

bool KeptStream::MakeStream(int rate, const GstAudioRingBufferSpec& spec) {
    const pa_sample_spec format{PA_SAMPLE_FLOAT32LE, uint32_t(rate), uint8_t(Channels)};
    pa_channel_map channels;
    pa_channel_map_init_stereo(&channels);
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "music");
    stream_ = pa_stream_new_with_proplist(context_, title_.constData(), &format, &channels,
                                          properties);
    pa_proplist_free(properties);
    if (!stream_)
        return false;
    ApplyName();
    const auto wake = [](pa_stream*, void* self) { static_cast<KeptStream*>(self)->Wake(); };
    pa_stream_set_state_callback(stream_, wake, this);
    pa_stream_set_write_callback(
        stream_, [](pa_stream*, size_t, void* self) { static_cast<KeptStream*>(self)->Wake(); },
        this);
    // The server holds three segments and asks for more a segment at a
    // time; the rest of the second waits in the sink's ring buffer. With
    // the whole second asked for, the server played out in one go what it
    // held, ahead of time: on the null sink of the tests, now and then a
    // whole MIDI track went by in an instant, unheard.
    pa_buffer_attr buffer;
    buffer.maxlength = uint32_t(-1);
    buffer.tlength = uint32_t(spec.segsize * std::min(spec.segtotal, 3));
    // Sounds as soon as a fifth of a segment is there, not once the whole
    // buffer is.
    buffer.prebuf = uint32_t(spec.segsize / 5 / GST_AUDIO_INFO_BPF(&spec.info) *
                             GST_AUDIO_INFO_BPF(&spec.info));
    buffer.minreq = uint32_t(spec.segsize);
    buffer.fragsize = uint32_t(-1);
    const auto flags = pa_stream_flags_t(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE |
                                         PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED |
                                         PA_STREAM_VARIABLE_RATE);
    if (pa_stream_connect_playback(stream_, nullptr, &buffer, flags, nullptr, nullptr) < 0) {
        DropStream();
        return false;
    }
    const bool ready = WaitFor([this] {
        const pa_stream_state_t state = pa_stream_get_state(stream_);
        return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
    }) && StreamReady();
    if (!ready) {
        DropStream();
        return false;
    }
    rate_ = rate;
    corked_ = true;
    return true;
}

bool KeptStream::Take(GstAudioSink* sink, GstAudioRingBufferSpec* spec) {
    Locked hold(loop_);
    const int rate = GST_AUDIO_INFO_RATE(&spec->info);
    const int frameBytes = GST_AUDIO_INFO_BPF(&spec->info);
    // Segments of the sink's latency time, as many as its buffer time holds.
    const guint64 segmentFrames =
        std::max<guint64>(1, gst_util_uint64_scale(rate, spec->latency_time, GST_SECOND / GST_USECOND));
    spec->segsize = gint(segmentFrames * frameBytes);
    spec->segtotal = gint(std::max<guint64>(2, spec->buffer_time / std::max<guint64>(1, spec->latency_time)));
    if (!ConnectLocked())
        return false;
    owner_ = sink;
    interrupted_ = false;
    StopIdleTimer();
    if (stream_ && !StreamReady())
        DropStream();
    if (stream_) {
        // Corked and emptied when the last track let it go; a track of
        // another rate changes the stream's.
        if (rate != rate_) {
            if (Finish(pa_stream_update_sample_rate(
                    stream_, uint32_t(rate),
                    [](pa_stream*, int success, void* self) {
                        static_cast<KeptStream*>(self)->succeeded_ = success;
                        static_cast<KeptStream*>(self)->Wake();
                    },
                    this)))
                rate_ = rate;
            else
                DropStream();
        }
    }
    if (!stream_ && !MakeStream(rate, *spec)) {
        owner_ = nullptr;
        return false;
    }
    if (!corked_) {
        Forget(pa_stream_cork(stream_, 1, nullptr, nullptr));
        corked_ = true;
    }
    Forget(pa_stream_flush(stream_, nullptr, nullptr));
    startOnWrite_ = true;
    return true;
}

void KeptStream::Leave(GstAudioSink* sink) {
    Locked hold(loop_);
    if (owner_ != sink)
        return;
    owner_ = nullptr;
    interrupted_ = true;
    Wake();
    if (!StreamReady())
        return;
    if (!corked_)
        Forget(pa_stream_cork(stream_, 1, nullptr, nullptr));
    corked_ = true;
    Forget(pa_stream_flush(stream_, nullptr, nullptr));
    StartIdleTimer();
}

void KeptStream::StartIdleTimer() {
    StopIdleTimer();
    idle_ = pa_context_rttime_new(
        context_, pa_rtclock_now() + IdleStreamUs,
        [](pa_mainloop_api* api, pa_time_event* event, const timeval*, void* data) {
            auto* self = static_cast<KeptStream*>(data);
            api->time_free(event);
            self->idle_ = nullptr;
            if (!self->owner_)
                self->DropStream();
        },
        this);
}

void KeptStream::StopIdleTimer() {
    if (idle_)
        pa_threaded_mainloop_get_api(loop_)->time_free(idle_);
    idle_ = nullptr;
}

int KeptStream::Write(GstAudioSink* sink, gconstpointer data, guint length) {
    Locked hold(loop_);
    for (;;) {
        if (owner_ != sink)
            return -1;
        if (interrupted_) {
            interrupted_ = false;
            return 0;
        }
        if (!StreamReady()) {
            owner_ = nullptr;
            GST_ELEMENT_ERROR(sink, RESOURCE, WRITE, ("The sound server closed the stream."),
                              (nullptr));
            return -1;
        }
        size_t room = pa_stream_writable_size(stream_);
        if (room == size_t(-1))
            return -1;
        // A corked stream makes no room: the rest of the segment goes to the
        // server beyond its usual fill, which it holds, so that a pause
        // loses nothing of the track and the ring buffer's thread is free
        // to stop.
        if (room == 0 && corked_)
            room = length;
        if (room > 0) {
            const size_t bytes = std::min<size_t>(room, length);
            if (pa_stream_write(stream_, data, bytes, nullptr, 0, PA_SEEK_RELATIVE) < 0)
                return -1;
            if (corked_ && startOnWrite_) {
                Forget(pa_stream_cork(stream_, 0, nullptr, nullptr));
                corked_ = false;
            }
            startOnWrite_ = false;
            return int(bytes);
        }
        pa_threaded_mainloop_wait(loop_);
    }
}

guint KeptStream::Delay(GstAudioSink* sink) {
    Locked hold(loop_);
    pa_usec_t latency = 0;
    int negative = 0;
    if (owner_ != sink || !StreamReady() ||
        pa_stream_get_latency(stream_, &latency, &negative) < 0 || negative)
        return 0;
    return guint(gst_util_uint64_scale(latency, guint64(rate_), PA_USEC_PER_SEC));
}

void KeptStream::Cork(GstAudioSink* sink, bool cork) {
    Locked hold(loop_);
    if (owner_ != sink || !StreamReady())
        return;
    if (corked_ != cork)
        Forget(pa_stream_cork(stream_, cork, nullptr, nullptr));
    corked_ = cork;
    startOnWrite_ = false;
    // A write waiting for room finishes its segment (see Write).
    Wake();
}

void KeptStream::Flush(GstAudioSink* sink) {
    Locked hold(loop_);
    if (owner_ != sink || !StreamReady())
        return;
    interrupted_ = true;
    startOnWrite_ = true;
    Wake();
    Forget(pa_stream_flush(stream_, nullptr, nullptr));
}

void KeptStream::Name(const QString& title, const QString& artist) {
    Locked hold(loop_);
    title_ = title.toUtf8();
    artist_ = artist.toUtf8();
    if (StreamReady())
        ApplyName();
}

void KeptStream::ApplyName() {
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_MEDIA_NAME, title_.constData());
    pa_proplist_sets(properties, PA_PROP_MEDIA_TITLE, title_.constData());
    if (!artist_.isEmpty())
        pa_proplist_sets(properties, PA_PROP_MEDIA_ARTIST, artist_.constData());
    Forget(pa_stream_proplist_update(stream_, PA_UPDATE_REPLACE, properties, nullptr, nullptr));
    pa_proplist_free(properties);
    if (artist_.isEmpty()) {
        const char* const keys[] = {PA_PROP_MEDIA_ARTIST, nullptr};
        Forget(pa_stream_proplist_remove(stream_, keys, nullptr, nullptr));
    }
}

// The ring buffer's thread writes its segments in turn whether or not the
// pipeline has filled them, paced only by the room the server gives, which
// is several segments at a track's start. A synthesiser that makes its
// sound in small pieces (MIDI) then fell behind at once: the segments went
// out silent, the sound meant for them came too late for its place and was
// dropped, and a track began with half a second of silence. Of the rest of
// its segment the thread asks to write (length bytes), only what the
// pipeline has filled goes out; the thread asks again for the remainder.
// It waits until some is filled, for at most a segment's length, no longer
// than the segment would take to play, and then writes it as it is.
guint FilledBytes(GstAudioSink* self, guint length) {
    auto* sink = GST_AUDIO_BASE_SINK(self);
    GstAudioRingBuffer* ring = sink->ringbuffer;
    const gint64 rate = GST_AUDIO_INFO_RATE(&ring->spec.info);
    const gint frameBytes = GST_AUDIO_INFO_BPF(&ring->spec.info);
    if (rate <= 0 || frameBytes <= 0 || length > guint(ring->spec.segsize))
        return length;
    const gint64 limit =
        g_get_monotonic_time() + gint64(ring->samples_per_seg) * G_USEC_PER_SEC / rate;
    for (;;) {
        if (g_atomic_int_get(&ring->state) != GST_AUDIO_RING_BUFFER_STATE_STARTED ||
            GST_BASE_SINK(self)->eos || GST_BASE_SINK(self)->flushing)
            return length;
        // In the ring buffer's samples: where the pipeline writes next, and
        // where this write begins.
        const guint64 filled = sink->next_sample;
        const guint64 from =
            guint64(g_atomic_int_get(&ring->segdone) - ring->segbase) * ring->samples_per_seg +
            (guint(ring->spec.segsize) - length) / guint(frameBytes);
        if (filled != guint64(-1) && filled > from)
            return guint(std::min<guint64>(length, (filled - from) * guint(frameBytes)));
        if (g_get_monotonic_time() >= limit)
            return length;
        g_usleep(1000);
    }
}

// The element: a GstAudioSink whose device is the kept stream.

struct TolvaneSoundSink {
    GstAudioSink parent;
};
struct TolvaneSoundSinkClass {
    GstAudioSinkClass parent_class;
};

GType tolvane_sound_sink_get_type();
G_DEFINE_TYPE(TolvaneSoundSink, tolvane_sound_sink, GST_TYPE_AUDIO_SINK)

void tolvane_sound_sink_init(TolvaneSoundSink* self) {
    // Segments of 100 ms, a second of them: the stream wakes this process
    // ten times a second, where GStreamer's 10 ms segments woke it a hundred
    // times. A pause, a seek or a new track corks or empties the stream at
    // once, so the longer buffer delays none of them.
    g_object_set(self, "latency-time", gint64(100 * 1000), "buffer-time", gint64(1000 * 1000),
                 nullptr);
}

void tolvane_sound_sink_class_init(TolvaneSoundSinkClass* type) {
    auto* element = GST_ELEMENT_CLASS(type);
    gst_element_class_set_static_metadata(element, "Sound server output", "Sink/Audio",
                                          "Plays into one stream kept on the sound server",
                                          "Tolvane");
    static GstStaticPadTemplate input = GST_STATIC_PAD_TEMPLATE(
        "sink", GST_PAD_SINK, GST_PAD_ALWAYS,
        GST_STATIC_CAPS("audio/x-raw, format = (string) F32LE, layout = (string) interleaved, "
                        "rate = (int) [ 1, 384000 ], channels = (int) 2"));
    gst_element_class_add_static_pad_template(element, &input);

    auto* sink = GST_AUDIO_SINK_CLASS(type);
    sink->open = [](GstAudioSink* self) -> gboolean {
        if (Output().Connect())
            return TRUE;
        GST_ELEMENT_ERROR(self, RESOURCE, OPEN_WRITE, ("The sound server cannot be reached."),
                          (nullptr));
        return FALSE;
    };
    sink->close = [](GstAudioSink*) -> gboolean { return TRUE; };
    sink->prepare = [](GstAudioSink* self, GstAudioRingBufferSpec* spec) -> gboolean {
        if (Output().Take(self, spec))
            return TRUE;
        GST_ELEMENT_ERROR(self, RESOURCE, OPEN_WRITE,
                          ("The sound server did not open a stream."), (nullptr));
        return FALSE;
    };
    sink->unprepare = [](GstAudioSink* self) -> gboolean {
        Output().Leave(self);
        return TRUE;
    };
    sink->write = [](GstAudioSink* self, gpointer data, guint length) -> gint {
        const gint written = Output().Write(self, data, FilledBytes(self, length));
        // The segment is dropped: the stream went, or a sink of the next
        // track took it over while this one stops. Its ring buffer asks
        // again at once while it runs; the pause keeps that from spinning.
        if (written < 0)
            g_usleep(10 * 1000);
        return written;
    };
    sink->delay = [](GstAudioSink* self) -> guint { return Output().Delay(self); };
    sink->reset = [](GstAudioSink* self) { Output().Flush(self); };
    sink->pause = [](GstAudioSink* self) { Output().Cork(self, true); };
    sink->resume = [](GstAudioSink* self) { Output().Cork(self, false); };
    sink->stop = [](GstAudioSink* self) {
        Output().Cork(self, true);
        Output().Flush(self);
    };
    sink->extension->clear_all = [](GstAudioSink* self) { Output().Flush(self); };
}

} // namespace

void RegisterSoundServerSink() {
    static const bool registered = gst_element_register(nullptr, SoundServerSinkFactory,
                                                        GST_RANK_NONE, tolvane_sound_sink_get_type());
    (void)registered;
}

bool ConnectSoundServer() {
    return Output().Connect();
}

void NameSoundServerStream(const QString& title, const QString& artist) {
    if (!title.isEmpty())
        Output().Name(title, artist);
}
