#include "player/media/MediaPlayer.h"

#include "player/media/FileStamp.h"
#include "player/media/PlayingWorker.h"

#include <QDir>
#include <QFile>

#include <gst/base/gsttypefindhelper.h>
#include <gst/gst.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const char* const NoDeviceOpen = "No MCI device open";

// A seek or a pause on a file that has opened completes in milliseconds; the
// bound only keeps a wedged decoder from hanging the window.
constexpr int SettleTimeoutMs = 3000;
// At fluiddec's own gain of 0.2 a single piano note peaks near -32 dBFS, far
// quieter than any other file; four times that leaves room for chords.
constexpr double MidiGain = 0.8;

// playbin's GstPlayFlags: video, audio, software volume, deinterlacing. No
// subtitles and no visualisation, which a plain player has no use for.
constexpr guint PlayFlags = 0x1 | 0x2 | 0x10 | 0x200;

std::atomic<int> abandonedPipelines{0};
std::atomic<int> screenWidth{0}, screenHeight{0};

// Brings a pipeline to NULL on a thread of its own and waits for it at most
// StopTimeoutMs. A streaming thread caught in a decoder's endless loop never
// looks at the flushing flag, and NULL waits for every streaming thread: that
// wait must not be the caller's. Returns false when the pipeline was left;
// the stopping thread keeps a reference of its own, so the caller drops its
// references either way but must not use the pipeline again.
bool StopPipeline(GstElement* pipeline) {
    struct Stopping {
        std::mutex lock;
        std::condition_variable stopped;
        bool done = false;
    };
    auto stopping = std::make_shared<Stopping>();
    gst_object_ref(pipeline);
    std::thread([stopping, pipeline] {
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
        std::lock_guard<std::mutex> hold(stopping->lock);
        stopping->done = true;
        stopping->stopped.notify_all();
    }).detach();
    std::unique_lock<std::mutex> hold(stopping->lock);
    if (stopping->stopped.wait_for(hold, std::chrono::milliseconds(TMediaPlayer::StopTimeoutMs),
                                   [&] { return stopping->done; }))
        return true;
    ++abandonedPipelines;
    return false;
}

void InitGStreamer() {
    static std::once_flag once;
    std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

std::atomic<bool> everyDecoder{false};
std::atomic<bool> decodersLeftOut{false};
std::atomic<bool> ffmpegLast{false};
// FFmpeg's features and the ranks they had, once left out.
std::vector<std::pair<GstPluginFeature*, guint>> ffmpegRanks;

// Ranked out of autoplugging, FFmpeg's decoders and demuxers are never
// loaded: the ranks come from the registry's cache, not from the plugin.
// Without the child's program they stay, and play here as they always did.
void LeaveOutFFmpeg() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (everyDecoder || access(TPlayingWorker::Program().constData(), X_OK) != 0)
            return;
        GList* features = gst_registry_get_feature_list_by_plugin(gst_registry_get(), "libav");
        for (GList* feature = features; feature; feature = feature->next) {
            auto* each = GST_PLUGIN_FEATURE(gst_object_ref(feature->data));
            ffmpegRanks.emplace_back(each, gst_plugin_feature_get_rank(each));
            gst_plugin_feature_set_rank(each, GST_RANK_NONE);
        }
        decodersLeftOut = features != nullptr;
        gst_plugin_feature_list_free(features);
    });
}

// The files that played in a child, as they were then: trying them here
// again would only build a pipeline to find the same decoder missing.
std::mutex playedInChildLock;
std::map<QByteArray, std::array<qint64, 5>> playedInChild;

bool PlayedInChild(const QByteArray& path) {
    std::lock_guard hold(playedInChildLock);
    const auto known = playedInChild.find(path);
    return known != playedInChild.end() && known->second[1] != 0 &&
           known->second == FileStamp(path);
}

void RememberPlayedInChild(const QByteArray& path, bool inChild) {
    std::lock_guard hold(playedInChildLock);
    if (!inChild) {
        playedInChild.erase(path);
        return;
    }
    // A session plays far fewer files; the bound only keeps a pathological
    // one from growing without end.
    if (playedInChild.size() >= 10000)
        playedInChild.clear();
    playedInChild[path] = FileStamp(path);
}

QByteArray FactoryName(GstElement* element) {
    GstElementFactory* factory = gst_element_get_factory(element);
    return factory ? QByteArray(gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)))
                   : QByteArray();
}

// The device a sink reaches is opened on the way to READY: that is where a
// missing sound server or display shows, quickly and without playing.
// Returns the factory of the element that actually outputs (the chosen child
// of an auto sink), or nothing when the sink cannot reach its device.
QByteArray ReachableSink(const char* factory) {
    GstElement* sink = gst_element_factory_make(factory, nullptr);
    if (!sink)
        return {};
    gst_object_ref_sink(sink);
    QByteArray reached;
    if (gst_element_set_state(sink, GST_STATE_READY) == GST_STATE_CHANGE_SUCCESS) {
        reached = factory;
        if (GST_IS_BIN(sink)) {
            reached.clear();
            GstIterator* children = gst_bin_iterate_elements(GST_BIN(sink));
            GValue child = G_VALUE_INIT;
            if (gst_iterator_next(children, &child) == GST_ITERATOR_OK) {
                reached = FactoryName(GST_ELEMENT(g_value_get_object(&child)));
                g_value_unset(&child);
            }
            gst_iterator_free(children);
        }
    }
    gst_element_set_state(sink, GST_STATE_NULL);
    gst_object_unref(sink);
    return reached;
}

// Chosen once per process: probing costs a connection to the sound server,
// and an auto sink inside the pipeline would repeat its probe at every open.
const QByteArray& AudioSinkFactory() {
    static const QByteArray choice = [] {
        if (!ReachableSink("pulsesink").isEmpty())
            return QByteArray("pulsesink");
        const QByteArray other = ReachableSink("autoaudiosink");
        // Without a server or card the auto sink ends on a fake one; say so
        // plainly and make it keep time ourselves.
        if (other.isEmpty() || other == "fakesink" || other == "fakeaudiosink")
            return QByteArray("fakesink");
        return other;
    }();
    return choice;
}

// ximagesink fails cleanly when the display cannot be reached, where the auto
// sink crashes; off a display video is decoded and dropped in real time.
const QByteArray& VideoSinkFactory() {
    static const QByteArray choice = [] {
        const QByteArray display = qgetenv("DISPLAY");
        if (!display.isEmpty() && ReachableSink("ximagesink") == "ximagesink")
            return QByteArray("ximagesink");
        return QByteArray("fakesink");
    }();
    return choice;
}

GstElement* MakeSink(const QByteArray& factory) {
    GstElement* sink = gst_element_factory_make(factory.constData(), nullptr);
    // A fake sink that does not wait for the clock would finish a track in
    // an instant; playing silently must still take the track's own time.
    if (sink && factory == "fakesink")
        g_object_set(sink, "sync", TRUE, nullptr);
    return sink;
}

// A General MIDI soundfont: without one fluiddec stays silent.
const QByteArray& SoundFont() {
    static const QByteArray path = [] {
        const QString folder = QStringLiteral("/usr/share/sounds/sf2");
        for (const char* name : {"TimGM6mb.sf2", "default-GM.sf2"}) {
            const QString candidate = folder + QLatin1Char('/') + QLatin1String(name);
            if (QFile::exists(candidate))
                return QFile::encodeName(candidate);
        }
        const QStringList any =
            QDir(folder).entryList({QStringLiteral("*.sf2")}, QDir::Files, QDir::Name);
        return any.isEmpty() ? QByteArray() : QFile::encodeName(folder + QLatin1Char('/') + any[0]);
    }();
    return path;
}

// After a seek midiparse plays the file again from its start, every event
// stamped with its own old time, and fluiddec synthesises all the audio up to
// the target only for the sinks to throw it away: some 10 s of work a minute
// of music. Ahead of the target only what sets the synthesiser up (programs,
// controllers, pitch bends, system exclusives) matters; it is moved to the
// target, and notes and clock ticks are dropped, so the sound starts there.
struct MidiSeekShortcut {
    GstClockTime segmentStart = 0;
};

GstPadProbeReturn SkipToSegmentStart(GstPad* /*pad*/, GstPadProbeInfo* info, gpointer data) {
    auto* shortcut = static_cast<MidiSeekShortcut*>(data);
    if (info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
            const GstSegment* segment = nullptr;
            gst_event_parse_segment(event, &segment);
            shortcut->segmentStart = segment->format == GST_FORMAT_TIME ? segment->start : 0;
        }
        return GST_PAD_PROBE_OK;
    }
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (!GST_BUFFER_PTS_IS_VALID(buffer) || GST_BUFFER_PTS(buffer) >= shortcut->segmentStart)
        return GST_PAD_PROBE_OK;
    guint8 status = 0;
    gst_buffer_extract(buffer, 0, &status, 1);
    const guint8 kind = status & 0xf0;
    // Note off, note on, key pressure, and the real-time bytes (ticks).
    if (kind == 0x80 || kind == 0x90 || kind == 0xa0 || status >= 0xf8)
        return GST_PAD_PROBE_DROP;
    buffer = gst_buffer_make_writable(buffer);
    GST_BUFFER_PTS(buffer) = shortcut->segmentStart;
    GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    return GST_PAD_PROBE_OK;
}

void SetUpElement(GstElement* /*playbin*/, GstElement* element, gpointer /*data*/) {
    if (FactoryName(element) != "fluiddec")
        return;
    if (!SoundFont().isEmpty())
        g_object_set(element, "soundfont", SoundFont().constData(), nullptr);
    g_object_set(element, "synth-gain", MidiGain, nullptr);
    if (GstPad* input = gst_element_get_static_pad(element, "sink")) {
        gst_pad_add_probe(
            input, GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
            SkipToSegmentStart, new MidiSeekShortcut,
            [](gpointer data) { delete static_cast<MidiSeekShortcut*>(data); });
        gst_object_unref(input);
    }
}

QString ErrorText(GstMessage* message) {
    GError* error = nullptr;
    gst_message_parse_error(message, &error, nullptr);
    QString text = error && error->message ? QString::fromUtf8(error->message)
                                           : QStringLiteral("Unknown error code");
    if (error)
        g_error_free(error);
    return text;
}

// Why a path cannot be media, before any decoder sees it: a FIFO or a device
// would block the file source for good, a folder or an empty file can only
// fail more slowly further down.
QString UnplayablePathReason(const QByteArray& path) {
    if (path.isEmpty())
        return QStringLiteral("No file name was given.");
    if (path.contains('\0'))
        return QStringLiteral("The file name is not valid.");
    struct stat info {};
    if (stat(path.constData(), &info) != 0)
        return QStringLiteral("Cannot open the file: ") + QString::fromLocal8Bit(strerror(errno));
    if (S_ISDIR(info.st_mode))
        return QStringLiteral("Cannot open the file: it is a folder.");
    if (!S_ISREG(info.st_mode))
        return QStringLiteral("Cannot open the file: it is not a regular file.");
    if (info.st_size == 0)
        return QStringLiteral("Cannot open the file: it is empty.");
    // Opening without blocking also proves the file readable, for this user.
    const int fd = open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return QStringLiteral("Cannot open the file: ") + QString::fromLocal8Bit(strerror(errno));
    close(fd);
    return {};
}

// Files up to this size are typed from memory.
constexpr off_t WholeFileTypeFind = 1 << 20;

// The file that TypeFindRead reads from, on the thread that finds a type.
thread_local int typeFindFile = -1;

// Reads as the file source does for the type finder: short at the end of
// the file, end-of-stream beyond it.
GstFlowReturn TypeFindRead(GstObject*, GstObject*, guint64 offset, guint length,
                           GstBuffer** buffer) {
    GstBuffer* read = gst_buffer_new_allocate(nullptr, length, nullptr);
    GstMapInfo map;
    gst_buffer_map(read, &map, GST_MAP_WRITE);
    ssize_t got;
    do
        got = pread(typeFindFile, map.data, length, off_t(offset));
    while (got < 0 && errno == EINTR);
    gst_buffer_unmap(read, &map);
    if (got <= 0) {
        gst_buffer_unref(read);
        return got == 0 ? GST_FLOW_EOS : GST_FLOW_ERROR;
    }
    gst_buffer_set_size(read, gsize(got));
    *buffer = read;
    return GST_FLOW_OK;
}

// The pipeline's first step, taken without a pipeline: the type finder runs
// the same finders over the same bytes, with the same extension as a hint.
// Most files that are no media at all stop here, at a fraction of the cost
// of starting and stopping a pipeline's threads.
bool HasMediaType(const QByteArray& path) {
    const int fd = open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || fstat(fd, &info) != 0) {
        if (fd >= 0)
            close(fd);
        return true; // the pipeline gives the reason
    }
    const int dot = path.lastIndexOf('.');
    const int slash = path.lastIndexOf('/');
    const QByteArray extension = dot > slash ? path.mid(dot + 1) : QByteArray();
    const char* hint = extension.isEmpty() ? nullptr : extension.constData();
    GstCaps* caps = nullptr;
    QByteArray whole;
    if (info.st_size <= WholeFileTypeFind) {
        // A small file is read at once: the finders peek at it hundreds of
        // times, and each peek would otherwise be a read of its own.
        whole.resize(qsizetype(info.st_size));
        ssize_t got;
        do
            got = pread(fd, whole.data(), size_t(whole.size()), 0);
        while (got < 0 && errno == EINTR);
        whole.resize(std::max<qsizetype>(0, got));
    }
    if (!whole.isEmpty() && whole.size() == info.st_size) {
        caps = gst_type_find_helper_for_data_with_extension(
            nullptr, reinterpret_cast<const guint8*>(whole.constData()), gsize(whole.size()), hint,
            nullptr);
    } else {
        // The finder wants an object to name in its log; any will do.
        static GstObject* const finder = GST_OBJECT(gst_object_ref_sink(gst_bin_new("typefind")));
        typeFindFile = fd;
        gst_type_find_helper_get_range_full(finder, nullptr, TypeFindRead, guint64(info.st_size),
                                            hint, &caps, nullptr);
        typeFindFile = -1;
    }
    close(fd);
    if (!caps)
        return false;
    gst_caps_unref(caps);
    return true;
}

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return int(std::max<qint64>(0, left));
}

void LinkToFakeSink(GstElement* /*parsebin*/, GstPad* pad, gpointer pipeline) {
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    g_object_set(sink, "sync", FALSE, nullptr);
    gst_bin_add(GST_BIN(pipeline), sink);
    gst_element_sync_state_with_parent(sink);
    GstPad* input = gst_element_get_static_pad(sink, "sink");
    gst_pad_link(pad, input);
    gst_object_unref(input);
}

// An MP3 without a Xing header does not say how long it is, and the playing
// pipeline only guesses from the bitrate seen so far, late and (for VBR) off
// by seconds: a length too short would end the track early. Reading the
// frames through without decoding them gives the true length quickly (a
// 5-minute MP3 takes some 20 ms). Returns 0 when that fails.
qint64 ScanLength(const QByteArray& path, Clock::time_point deadline) {
    GstElement* pipeline = gst_pipeline_new(nullptr);
    GstElement* source = gst_element_factory_make("filesrc", nullptr);
    GstElement* parser = gst_element_factory_make("parsebin", nullptr);
    if (!source || !parser) {
        for (GstElement* made : {source, parser})
            if (made)
                gst_object_unref(gst_object_ref_sink(made));
        gst_object_unref(pipeline);
        return 0;
    }
    g_object_set(source, "location", path.constData(), nullptr);
    gst_bin_add_many(GST_BIN(pipeline), source, parser, nullptr);
    gst_element_link(source, parser);
    g_signal_connect(parser, "pad-added", G_CALLBACK(LinkToFakeSink), pipeline);

    qint64 length = 0;
    GstBus* bus = gst_element_get_bus(pipeline);
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE) {
        GstMessage* message =
            gst_bus_timed_pop_filtered(bus, GstClockTime(MillisecondsLeft(deadline)) * GST_MSECOND,
                                       GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
        gint64 end = -1;
        if (message && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS &&
            gst_element_query_position(pipeline, GST_FORMAT_TIME, &end) && end > 0)
            length = end / GST_MSECOND;
        if (message)
            gst_message_unref(message);
    }
    gst_object_unref(bus);
    StopPipeline(pipeline);
    gst_object_unref(pipeline);
    return length;
}

} // namespace

// The pipeline's own state is only PAUSED or PLAYING while a file is open;
// the modes callers see (stopped vs paused, the end of the track) are kept
// here, because GStreamer has no "stopped" and stays PLAYING after its end.
struct TMediaPlayer::Private {
    explicit Private(Output output) : output(output) {}

    const Output output;
    GstElement* playbin = nullptr;
    GstBus* bus = nullptr;

    bool open = false;
    TMPModes mode = TMPModes::mpNotReady;
    qint64 length = 0;
    // Returned while the pipeline cannot tell its position (MPEG before the
    // first seek, a query in the middle of a state change).
    qint64 lastPosition = 0;
    // Played to the end (or broke off while playing): the position is the
    // length, the mode stopped, and the next play starts from the beginning.
    bool ended = false;
    // Sought to the end: it stands there stopped, and playing on from there
    // ends it at once rather than starting the track again.
    bool parkedAtEnd = false;
    // The length was measured by reading the file through, not estimated:
    // later estimates from the playing pipeline must not replace it.
    bool lengthScanned = false;
    // A seek runs on in the pipeline's own threads after SeekMedia returned
    // (a long MIDI file takes seconds to get to a place); until the pipeline
    // has settled, its position is the target.
    bool seekPending = false;
    // Sought and not played since: the device stands at the target, which is
    // its position, whatever the pipeline rounds it to.
    bool standingAtTarget = false;
    QString lastError;

    // Video opens into a fake sink and moves to its window when it first
    // plays: the window sink costs some 50 ms each time the pipeline takes
    // it up and lays it down (its event thread sleeps 50 ms between looks),
    // which the bad-file scan, opening file after file and playing none,
    // must not pay. Without a display the fake sink is all there is.
    GstElement* windowSink = nullptr;
    GstElement* hiddenSink = nullptr;
    GstElement* videoSink = nullptr;
    // In front of the window sink: scales a video larger than the screen.
    GstElement* fitFilter = nullptr;
    bool hasVideo = false;

    // The last preroll asked for a plugin that is not at hand.
    bool pluginMissing = false;
    // Plays the open file in a child process, when set.
    std::unique_ptr<TPlayingWorker> child;
    QByteArray childPath;

    ~Private() {
        if (playbin) {
            WaitForSeeker();
            StopPipeline(playbin);
        }
        Release();
    }

    // Drops this player's references without touching the pipeline's state;
    // the next open builds a new one.
    void Release() {
        if (!playbin)
            return;
        gst_object_unref(bus);
        gst_object_unref(playbin);
        if (windowSink)
            gst_object_unref(windowSink);
        gst_object_unref(hiddenSink);
        playbin = windowSink = hiddenSink = videoSink = fitFilter = nullptr;
        bus = nullptr;
    }

    // The window sink behind a caps filter, which is left open unless a
    // video must be made smaller (FitToScreen).
    GstElement* MakeWindowSink() {
        GstElement* sink = MakeSink(VideoSinkFactory());
        GstElement* filter = gst_element_factory_make("capsfilter", nullptr);
        if (!sink || !filter) {
            if (filter)
                gst_object_unref(gst_object_ref_sink(filter));
            return sink;
        }
        GstElement* bin = gst_bin_new(nullptr);
        gst_bin_add_many(GST_BIN(bin), filter, sink, nullptr);
        gst_element_link(filter, sink);
        GstPad* input = gst_element_get_static_pad(filter, "sink");
        gst_element_add_pad(bin, gst_ghost_pad_new("sink", input));
        gst_object_unref(input);
        fitFilter = filter;
        return bin;
    }

    // Asks the converter in front of the window for a picture that fits the
    // screen, in the video's own shape, when the video is larger.
    void FitToScreen() {
        if (!fitFilter)
            return;
        GstCaps* fit = nullptr;
        GstPad* pad = nullptr;
        g_signal_emit_by_name(playbin, "get-video-pad", 0, &pad);
        GstCaps* caps = pad ? gst_pad_get_current_caps(pad) : nullptr;
        const int roomWidth = screenWidth, roomHeight = screenHeight;
        int width = 0, height = 0, parN = 1, parD = 1;
        if (caps && roomWidth > 0 && roomHeight > 0) {
            const GstStructure* format = gst_caps_get_structure(caps, 0);
            gst_structure_get_int(format, "width", &width);
            gst_structure_get_int(format, "height", &height);
            if (!gst_structure_get_fraction(format, "pixel-aspect-ratio", &parN, &parD) ||
                parN <= 0 || parD <= 0)
                parN = parD = 1;
        }
        const double shownWidth = double(width) * parN / parD;
        if (width > 0 && height > 0 && (shownWidth > roomWidth || height > roomHeight)) {
            const double scale = std::min(roomWidth / shownWidth, double(roomHeight) / height);
            fit = gst_caps_new_simple("video/x-raw", "width", G_TYPE_INT,
                                      std::max(2, int(std::floor(shownWidth * scale))), "height",
                                      G_TYPE_INT, std::max(2, int(std::floor(height * scale))),
                                      "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr);
        }
        g_object_set(fitFilter, "caps", fit, nullptr);
        if (fit)
            gst_caps_unref(fit);
        if (caps)
            gst_caps_unref(caps);
        if (pad)
            gst_object_unref(pad);
    }

    void MakePipeline() {
        if (playbin)
            return;
        InitGStreamer();
        if (output == Output::Real || ffmpegLast)
            LeaveOutFFmpeg();
        GstElement* bin = gst_element_factory_make("playbin", nullptr);
        GstElement* fake = MakeSink("fakesink");
        if (!bin || !fake) {
            for (GstElement* made : {bin, fake})
                if (made)
                    gst_object_unref(gst_object_ref_sink(made));
            throw EMCIDeviceError("GStreamer's playbin or fakesink is not installed.");
        }
        playbin = GST_ELEMENT(gst_object_ref_sink(bin));
        hiddenSink = GST_ELEMENT(gst_object_ref_sink(fake));
        if (output == Output::Real && VideoSinkFactory() != "fakesink" &&
            (windowSink = MakeWindowSink()))
            gst_object_ref_sink(windowSink);
        bus = gst_element_get_bus(playbin);
        // The audio sink's own clock was seen to stand still after seeks in
        // pause (an MPEG with sound and picture, now and then): every sink then
        // waits on it for good, the position never moves and the track never
        // ends. The system clock always runs, and the audio sink follows it.
        GstClock* clock = gst_system_clock_obtain();
        gst_pipeline_use_clock(GST_PIPELINE(playbin), clock);
        gst_object_unref(clock);
        g_object_set(playbin, "flags", PlayFlags, nullptr);
        // A player that only tests files has nothing to play to: no stream
        // on the sound server, no round trips to it at every open.
        if (GstElement* sink =
                MakeSink(output == Output::Real ? AudioSinkFactory() : QByteArray("fakesink")))
            g_object_set(playbin, "audio-sink", sink, nullptr);
        g_signal_connect(playbin, "element-setup", G_CALLBACK(SetUpElement), nullptr);
    }

    // Only while the pipeline stands in NULL.
    void ShowVideoInWindow(bool window) {
        GstElement* sink = window && windowSink ? windowSink : hiddenSink;
        if (sink != videoSink)
            g_object_set(playbin, "video-sink", sink, nullptr);
        videoSink = sink;
    }

    // NULL, not READY: only NULL closes the video window and lets go of the
    // sound server's stream, and reopening from NULL costs no more.
    void Shut() {
        child.reset();
        WaitForSeeker();
        // A file turned down before the pipeline was started leaves nothing
        // to stop.
        if (playbin && GST_STATE(playbin) == GST_STATE_NULL &&
            GST_STATE_PENDING(playbin) == GST_STATE_VOID_PENDING) {
        } else if (playbin && !StopPipeline(playbin)) {
            Release();
        }
        open = false;
        mode = TMPModes::mpNotReady;
        length = lastPosition = 0;
        ended = parkedAtEnd = lengthScanned = hasVideo = false;
        seekPending = standingAtTarget = false;
    }

    [[noreturn]] void FailOpen(const QString& reason) {
        Shut();
        lastError = reason;
        throw EMCIDeviceError(reason.toStdString());
    }

    bool QueryLength() {
        gint64 duration = -1;
        if (!gst_element_query_duration(playbin, GST_FORMAT_TIME, &duration) || duration <= 0)
            return false;
        length = duration / GST_MSECOND;
        return length > 0;
    }

    // Brings the pipeline to PAUSED on its first frame; returns why it could
    // not, or nothing.
    QString Preroll(Clock::time_point deadline) {
        // Messages of the previous file must not be taken for this one's.
        gst_bus_set_flushing(bus, TRUE);
        gst_bus_set_flushing(bus, FALSE);
        pluginMissing = false;
        if (gst_element_set_state(playbin, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
            GstMessage* message = NextMessage(GST_MESSAGE_ERROR, 0);
            const QString reason =
                message ? ErrorText(message) : QStringLiteral("The file cannot be played.");
            if (message)
                gst_message_unref(message);
            return reason;
        }
        GstMessage* message = NextMessage(
            GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_ASYNC_DONE), MillisecondsLeft(deadline));
        if (!message)
            return QStringLiteral("The file did not open within %1 seconds.")
                .arg(OpenTimeoutMs / 1000);
        const QString reason =
            GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR ? ErrorText(message) : QString();
        gst_message_unref(message);
        return reason;
    }

    // The next message of the given types within ms, noting on the way
    // whether the pipeline found a plugin missing (a stream it cannot
    // decode, which it reports before the error or instead of one).
    GstMessage* NextMessage(GstMessageType types, int ms) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            GstMessage* message = gst_bus_timed_pop_filtered(
                bus, GstClockTime(MillisecondsLeft(deadline)) * GST_MSECOND,
                GstMessageType(types | GST_MESSAGE_ELEMENT));
            if (!message || GST_MESSAGE_TYPE(message) != GST_MESSAGE_ELEMENT)
                return message;
            if (gst_message_has_name(message, "missing-plugin"))
                pluginMissing = true;
            gst_message_unref(message);
        }
    }

    // Opens the file in a child that has every decoder.
    void OpenInChild(const QByteArray& path) {
        auto opened = std::make_unique<TPlayingWorker>();
        opened->Open(path, screenWidth, screenHeight);
        child = std::move(opened);
        childPath = path;
        open = true;
        mode = TMPModes::mpStopped;
        lastError.clear();
    }

    void Open(const QByteArray& path) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(OpenTimeoutMs);
        GError* error = nullptr;
        gchar* uri = gst_filename_to_uri(path.constData(), &error);
        if (!uri) {
            const QString reason = QString::fromUtf8(error ? error->message : "Invalid file name");
            g_clear_error(&error);
            FailOpen(reason);
        }
        g_object_set(playbin, "uri", uri, nullptr);
        g_free(uri);

        ShowVideoInWindow(false);
        const QString failure = Preroll(deadline);
        if (!failure.isEmpty())
            FailOpen(failure);
        gint audio = 0, video = 0;
        g_object_get(playbin, "n-audio", &audio, "n-video", &video, nullptr);
        if (audio + video == 0)
            FailOpen(QStringLiteral("The file holds no sound and no picture."));
        hasVideo = video > 0;

        if (!QueryLength()) {
            length = ScanLength(path, deadline);
            if (length <= 0)
                FailOpen(QStringLiteral("The length of the file cannot be determined."));
            lengthScanned = true;
        }
        open = true;
        mode = TMPModes::mpStopped;
        lastError.clear();
    }

    // Before pictures first play: the pipeline is taken back to READY, given
    // the window sink and brought to the same place again. Should the window
    // fail, the video plays on unseen rather than not at all.
    void MoveVideoToWindow(qint64 at) {
        if (!hasVideo || !windowSink || videoSink == windowSink)
            return;
        WaitForSeeker();
        const auto deadline = Clock::now() + std::chrono::milliseconds(OpenTimeoutMs);
        FitToScreen();
        gst_element_set_state(playbin, GST_STATE_READY);
        ShowVideoInWindow(true);
        QString failure = Preroll(deadline);
        if (!failure.isEmpty()) {
            lastError = failure;
            gst_element_set_state(playbin, GST_STATE_NULL);
            ShowVideoInWindow(false);
            failure = Preroll(deadline);
        }
        if (!failure.isEmpty())
            lastError = failure;
        else if (at > 0)
            SeekTo(at);
    }

    void MarkEnded() {
        ended = true;
        parkedAtEnd = false;
        mode = TMPModes::mpStopped;
        lastPosition = length;
        Pause();
    }

    // Takes what the pipeline has reported since the last look; without a
    // main loop the bus is read whenever someone asks about the device.
    // honourEnd is false right after a flushing seek: an end reported before
    // the seek no longer holds.
    void Poll(bool honourEnd = true) {
        if (!open)
            return;
        SeekSettled();
        while (GstMessage* message = gst_bus_pop(bus)) {
            switch (GST_MESSAGE_TYPE(message)) {
            case GST_MESSAGE_EOS:
                // The sinks end only once they have prerolled at the target:
                // while the seek settles, an end is one from before it.
                if (honourEnd && SeekSettled() && mode == TMPModes::mpPlaying)
                    MarkEnded();
                break;
            case GST_MESSAGE_ERROR:
                // A stream that breaks off while playing (a file cut short, the
                // video window closed) ends the track, so that the player goes
                // on with the next one instead of waiting for an end forever.
                lastError = ErrorText(message);
                if (mode == TMPModes::mpPlaying)
                    MarkEnded();
                break;
            case GST_MESSAGE_DURATION_CHANGED:
                if (!lengthScanned)
                    QueryLength();
                break;
            default:
                break;
            }
            gst_message_unref(message);
        }
        if (standingAtTarget && SeekSettled() && mode == TMPModes::mpPlaying)
            standingAtTarget = false;
    }

    void Settle() {
        gst_element_get_state(playbin, nullptr, nullptr, SettleTimeoutMs * GST_MSECOND);
    }

    // Pauses the pipeline at ms and waits until it stands there.
    bool SeekTo(qint64 ms) {
        WaitForSeeker();
        gst_element_set_state(playbin, GST_STATE_PAUSED);
        Settle();
        const bool done = gst_element_seek_simple(
            playbin, GST_FORMAT_TIME, GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
            ms * GST_MSECOND);
        if (!done) {
            lastError = QStringLiteral("The device cannot seek in this file.");
            return false;
        }
        Settle();
        Poll(false);
        ended = parkedAtEnd = seekPending = standingAtTarget = false;
        lastPosition = ms;
        return true;
    }

    // Seeks are sent from a thread of their own: a demuxer or parser works
    // out where the target lies in the caller's thread, which for an MP3
    // without an index means reading through the file. The seeker sends the
    // latest target (a newer one replaces one not yet sent), then puts the
    // pipeline into the state asked for meanwhile. Only it and the calls
    // below that wait for it change the pipeline's state while it runs.
    std::thread seeker;
    std::mutex seekLock;
    bool seekerBusy = false;    // under seekLock
    qint64 nextTarget = -1;     // under seekLock; a target not yet sent
    bool playAfterSeek = false; // under seekLock
    bool seekFailed = false;    // under seekLock

    void Seeker() {
        std::unique_lock lock(seekLock);
        while (nextTarget >= 0) {
            const qint64 target = nextTarget;
            nextTarget = -1;
            lock.unlock();
            gst_element_set_state(playbin, GST_STATE_PAUSED);
            const bool done = gst_element_seek_simple(
                playbin, GST_FORMAT_TIME,
                GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE), target * GST_MSECOND);
            lock.lock();
            seekFailed = !done;
        }
        if (playAfterSeek)
            gst_element_set_state(playbin, GST_STATE_PLAYING);
        seekerBusy = false;
    }

    void WaitForSeeker() {
        {
            std::lock_guard lock(seekLock);
            nextTarget = -1;
            playAfterSeek = false;
        }
        if (seeker.joinable())
            seeker.join();
    }

    // Sets the pipeline going to ms and returns.
    void StartSeek(qint64 ms) {
        Poll(false); // an end reported so far no longer holds
        std::lock_guard lock(seekLock);
        nextTarget = ms;
        playAfterSeek = seekFailed = false;
        if (!seekerBusy) {
            if (seeker.joinable())
                seeker.join(); // it has finished, or is just leaving
            seekerBusy = true;
            seeker = std::thread([this] { Seeker(); });
        }
        ended = parkedAtEnd = false;
        seekPending = standingAtTarget = true;
        lastPosition = ms;
    }

    // The pipeline has prerolled at the last target: the seeker is done, and
    // the pipeline regained the state that the flushing seek made it lose.
    bool SeekSettled() {
        if (!seekPending)
            return true;
        {
            std::lock_guard lock(seekLock);
            if (seekerBusy)
                return false;
            if (seekFailed)
                lastError = QStringLiteral("The device cannot seek in this file.");
        }
        if (gst_element_get_state(playbin, nullptr, nullptr, 0) != GST_STATE_CHANGE_ASYNC)
            seekPending = false;
        return !seekPending;
    }

    // Pause and stop can go to PAUSED at once; playing must wait until the
    // seek has been sent, or the seeker would pause it again.
    bool DeferToSeeker(bool play) {
        std::lock_guard lock(seekLock);
        if (seekerBusy)
            playAfterSeek = play;
        return seekerBusy;
    }

    // A seek in flight is left paused, rather than played on when it is sent.
    void Pause() {
        DeferToSeeker(false);
        gst_element_set_state(playbin, GST_STATE_PAUSED);
    }

    void Play() {
        mode = TMPModes::mpPlaying;
        if (DeferToSeeker(true))
            return;
        if (gst_element_set_state(playbin, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
            lastError = QStringLiteral("The device cannot play this file.");
    }
};

TMediaPlayer::TMediaPlayer(QObject* parent, Output output)
    : QObject(parent), d(new Private(output)) {}

TMediaPlayer::~TMediaPlayer() {
    CloseMedia();
}

void TMediaPlayer::OpenMedia() {
    CloseMedia();
    const QByteArray path = FileName;
    const QString unplayable = UnplayablePathReason(path);
    if (!unplayable.isEmpty())
        d->FailOpen(unplayable);
    d->MakePipeline();
    if (decodersLeftOut && PlayedInChild(path)) {
        try {
            d->OpenInChild(path);
            return;
        } catch (const EMCIDeviceError&) {
            RememberPlayedInChild(path, false); // it is tried here afresh
        }
    }
    // The text GStreamer's own type finder gives.
    if (!HasMediaType(path))
        d->FailOpen(QStringLiteral("Could not determine type of stream."));
    QString failure;
    try {
        d->Open(path);
    } catch (const EMCIDeviceError& error) {
        failure = QString::fromUtf8(error.what());
    }
    // A device that only tests files has no child: the caller tries again
    // with every decoder (see WithEveryDecoder).
    if (!decodersLeftOut || !d->pluginMissing || d->output != Output::Real) {
        if (!failure.isEmpty())
            throw EMCIDeviceError(failure.toStdString());
        if (decodersLeftOut && d->output == Output::Real)
            TPlayingWorker::LightenSpare();
        return;
    }
    // A decoder that was left out: the child plays the file whole. Should it
    // fail, what opened here (one stream of a file with two, say) still plays.
    d->Shut();
    try {
        d->OpenInChild(path);
        RememberPlayedInChild(path, true);
    } catch (const EMCIDeviceError& error) {
        if (!failure.isEmpty())
            d->FailOpen(QString::fromUtf8(error.what()));
        d->Open(path);
    }
}

void TMediaPlayer::CloseMedia() {
    if (d->open)
        d->Shut();
}

void TMediaPlayer::PlayMedia() {
    if (!d->open)
        throw EMCIDeviceError(NoDeviceOpen);
    if (d->child) {
        // As a stream that broke off here, the file plays again from its
        // start: in a new child, or it fails as an open would.
        if (d->child->Broken()) {
            try {
                d->child->Open(d->childPath, screenWidth, screenHeight);
            } catch (const EMCIDeviceError& error) {
                d->FailOpen(QString::fromUtf8(error.what()));
            }
        }
        return d->child->Play();
    }
    d->Poll();
    if (d->parkedAtEnd) {
        d->MarkEnded();
        return;
    }
    d->MoveVideoToWindow(d->ended ? 0 : MediaPosition());
    if (d->ended && !d->SeekTo(0)) {
        // Starting the file afresh rewinds it as well, only more slowly.
        gst_element_set_state(d->playbin, GST_STATE_READY);
        d->ended = false;
        d->lastPosition = 0;
    }
    d->Play();
}

void TMediaPlayer::PauseMedia() {
    if (!d->open)
        throw EMCIDeviceError(NoDeviceOpen);
    if (d->child)
        return d->child->Pause();
    switch (MediaMode()) {
    case TMPModes::mpPlaying:
        d->Pause();
        d->mode = TMPModes::mpPaused;
        break;
    case TMPModes::mpPaused:
        PlayMedia();
        break;
    default:
        break;
    }
}

void TMediaPlayer::StopMedia() {
    if (!d->open)
        throw EMCIDeviceError(NoDeviceOpen);
    if (d->child)
        return d->child->Stop();
    d->Poll();
    if (d->ended || d->parkedAtEnd)
        return;
    d->Pause();
    d->mode = TMPModes::mpStopped;
}

void TMediaPlayer::SeekMedia(qint64 ms) {
    if (!d->open)
        throw EMCIDeviceError(NoDeviceOpen);
    if (d->child)
        return d->child->Seek(ms);
    d->Poll();
    ms = std::clamp<qint64>(ms, 0, d->length);
    if (ms >= d->length) {
        d->Pause();
        d->ended = d->standingAtTarget = false;
        d->parkedAtEnd = true;
        d->lastPosition = d->length;
    } else {
        d->StartSeek(ms);
    }
    d->mode = TMPModes::mpStopped;
}

qint64 TMediaPlayer::MediaPosition() const {
    if (!d->open)
        return 0;
    if (d->child) {
        d->child->Refresh();
        return d->child->Now().position;
    }
    d->Poll();
    if (d->ended || d->parkedAtEnd)
        return d->length;
    if (d->standingAtTarget)
        return d->lastPosition;
    gint64 position = -1;
    if (gst_element_query_position(d->playbin, GST_FORMAT_TIME, &position) && position >= 0)
        d->lastPosition = std::min<qint64>(position / GST_MSECOND, d->length);
    return d->lastPosition;
}

qint64 TMediaPlayer::MediaLength() const {
    if (!d->open)
        throw EMCIDeviceError(NoDeviceOpen);
    if (d->child) {
        d->child->Refresh();
        return d->child->Now().length;
    }
    d->Poll();
    return d->length;
}

TMPModes TMediaPlayer::MediaMode() const {
    if (!d->open)
        return TMPModes::mpNotReady;
    if (d->child) {
        d->child->Refresh();
        return d->child->Now().mode;
    }
    d->Poll();
    if (d->ended || d->parkedAtEnd)
        return TMPModes::mpStopped;
    return d->mode;
}

bool TMediaPlayer::isOpen() const {
    return d->open;
}

QString TMediaPlayer::LastError() const {
    return d->child ? d->child->Now().lastError : d->lastError;
}

void TMediaPlayer::AllowEveryDecoder() {
    everyDecoder = true;
}

void TMediaPlayer::TryFFmpegLast() {
    ffmpegLast = true;
}

bool TMediaPlayer::LackedDecoder() const {
    return d->pluginMissing;
}

void TMediaPlayer::WithEveryDecoder(const std::function<void()>& work) {
    const auto rank = [](bool asBefore) {
        for (const auto& [feature, before] : ffmpegRanks)
            gst_plugin_feature_set_rank(feature, asBefore ? before : guint(GST_RANK_NONE));
    };
    rank(true);
    try {
        work();
    } catch (...) {
        rank(false);
        throw;
    }
    rank(false);
}

bool TMediaPlayer::HoldsFFmpegDecoders() {
    if (!gst_is_initialized())
        return false;
    GstPlugin* plugin = gst_registry_find_plugin(gst_registry_get(), "libav");
    const bool loaded = plugin && gst_plugin_is_loaded(plugin);
    if (plugin)
        gst_object_unref(plugin);
    return loaded;
}

QByteArray TMediaPlayer::AudioSinkName() {
    InitGStreamer();
    return AudioSinkFactory();
}

QByteArray TMediaPlayer::VideoSinkName() {
    InitGStreamer();
    return VideoSinkFactory();
}

int TMediaPlayer::AbandonedPipelines() {
    return abandonedPipelines;
}

void TMediaPlayer::SetScreenSize(int width, int height) {
    screenWidth = width;
    screenHeight = height;
}
