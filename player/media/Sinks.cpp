#include "player/media/Sinks.h"

#include <QtGlobal>

#include <gst/video/videooverlay.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>

namespace {

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

// Marks the tags this program sends, which alone may name the stream.
constexpr char NamedHere[] = "Tolvane";
constexpr char StreamNameKey[] = "tolvane-stream-name";

// The name an audio sink is to take with its next buffer: a serialized
// event sent from outside the streaming thread would wait for the pad's
// stream lock, which a prerolled sink holds until it plays.
struct StreamName {
    std::mutex lock;
    QString title, artist;
    std::atomic<bool> due{false};
};

void SendTags(GstPad* pad, const char* tag, const QString& value) {
    GstTagList* tags = gst_tag_list_new(GST_TAG_APPLICATION_NAME, NamedHere, tag,
                                        value.toUtf8().constData(), nullptr);
    gst_pad_send_event(pad, gst_event_new_tag(tags));
}

GstPadProbeReturn KeepOwnName(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    if (info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) != GST_EVENT_TAG)
            return GST_PAD_PROBE_OK;
        GstTagList* tags = nullptr;
        gst_event_parse_tag(event, &tags);
        const gchar* mark = nullptr;
        const bool ours =
            gst_tag_list_peek_string_index(tags, GST_TAG_APPLICATION_NAME, 0, &mark) &&
            g_strcmp0(mark, NamedHere) == 0;
        return ours ? GST_PAD_PROBE_OK : GST_PAD_PROBE_DROP;
    }
    auto* name = static_cast<StreamName*>(data);
    if (!name->due.exchange(false))
        return GST_PAD_PROBE_OK;
    QString title, artist;
    {
        std::lock_guard<std::mutex> hold(name->lock);
        title = name->title;
        artist = name->artist;
    }
    // The artist goes alone first: with a title beside it the stream would
    // be named "'Title' by 'Artist'".
    if (!artist.isEmpty())
        SendTags(pad, GST_TAG_ARTIST, artist);
    SendTags(pad, GST_TAG_TITLE, title);
    return GST_PAD_PROBE_OK;
}

// The plain sound that the sink's pad takes; the sound server takes each of
// these formats and converts it itself. Compressed formats passed through to
// a receiver are left out: a plain player never sends them.
GstCaps* PlainSoundCaps(GstPad* pad) {
    GstCaps* all = gst_pad_get_pad_template_caps(pad);
    GstCaps* plain = gst_caps_new_empty();
    for (guint i = 0; i < gst_caps_get_size(all); ++i)
        if (gst_structure_has_name(gst_caps_get_structure(all, i), "audio/x-raw"))
            gst_caps_append_structure(plain, gst_structure_copy(gst_caps_get_structure(all, i)));
    gst_caps_unref(all);
    return plain;
}

GstPadProbeReturn AnswerFormats(GstPad* pad, GstPadProbeInfo* info, gpointer) {
    GstQuery* query = GST_PAD_PROBE_INFO_QUERY(info);
    switch (GST_QUERY_TYPE(query)) {
    case GST_QUERY_CAPS: {
        GstCaps* filter = nullptr;
        gst_query_parse_caps(query, &filter);
        GstCaps* plain = PlainSoundCaps(pad);
        if (filter) {
            GstCaps* both = gst_caps_intersect_full(filter, plain, GST_CAPS_INTERSECT_FIRST);
            gst_caps_unref(plain);
            plain = both;
        }
        gst_query_set_caps_result(query, plain);
        gst_caps_unref(plain);
        return GST_PAD_PROBE_HANDLED;
    }
    case GST_QUERY_ACCEPT_CAPS: {
        GstCaps* caps = nullptr;
        gst_query_parse_accept_caps(query, &caps);
        GstCaps* plain = PlainSoundCaps(pad);
        gst_query_set_accept_caps_result(query, gst_caps_is_subset(caps, plain));
        gst_caps_unref(plain);
        return GST_PAD_PROBE_HANDLED;
    }
    default:
        return GST_PAD_PROBE_OK;
    }
}

} // namespace

void AnswerFormatQueries(GstElement* audioSink) {
    if (FactoryName(audioSink) != "pulsesink")
        return;
    GstPad* pad = gst_element_get_static_pad(audioSink, "sink");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_QUERY_DOWNSTREAM, AnswerFormats, nullptr, nullptr);
    gst_object_unref(pad);
}

void TakeStreamName(GstElement* audioSink) {
    if (FactoryName(audioSink) != "pulsesink")
        return;
    // The volume controls show the program's name and icon by each of its
    // streams, whichever process plays it.
    GstStructure* identity = gst_structure_new(
        "identity", "application.name", G_TYPE_STRING, "Tolvane", "application.icon_name",
        G_TYPE_STRING, "tolvane", "application.id", G_TYPE_STRING, "tolvane", nullptr);
    g_object_set(audioSink, "stream-properties", identity, nullptr);
    gst_structure_free(identity);
    // pulsesink renames its stream after every title and artist it meets,
    // as "'Title' by 'Artist'" from an ID3 tag and not at all from tags it
    // cannot find, where the program knows the track better.
    auto* name = new StreamName;
    g_object_set_data_full(G_OBJECT(audioSink), StreamNameKey, name,
                           [](gpointer data) { delete static_cast<StreamName*>(data); });
    GstPad* pad = gst_element_get_static_pad(audioSink, "sink");
    gst_pad_add_probe(pad,
                      GstPadProbeType(GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM |
                                      GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
                      KeepOwnName, name, nullptr);
    gst_object_unref(pad);
}

void NameStream(GstElement* audioSink, const QString& title, const QString& artist) {
    auto* name =
        audioSink ? static_cast<StreamName*>(g_object_get_data(G_OBJECT(audioSink), StreamNameKey))
                  : nullptr;
    if (!name || title.isEmpty())
        return;
    std::lock_guard<std::mutex> hold(name->lock);
    name->title = title;
    name->artist = artist;
    name->due = true;
}

QByteArray FactoryName(GstElement* element) {
    GstElementFactory* factory = gst_element_get_factory(element);
    return factory ? QByteArray(gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)))
                   : QByteArray();
}

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

const QByteArray& VideoSinkFactory() {
    static const QByteArray choice = [] {
        const QByteArray display = qgetenv("DISPLAY");
        if (!display.isEmpty() && ReachableSink("ximagesink") == "ximagesink")
            return QByteArray("ximagesink");
        return QByteArray("fakesink");
    }();
    return choice;
}

namespace {

// A sound server's sink in READY, which holds the connection; only the
// thread that opens files touches it.
GstElement* connectionHolder = nullptr;

} // namespace

void HoldSoundServerConnection() {
    if (connectionHolder || AudioSinkFactory() != "pulsesink")
        return;
    GstElement* sink = gst_element_factory_make("pulsesink", nullptr);
    if (!sink)
        return;
    gst_object_ref_sink(sink);
    if (gst_element_set_state(sink, GST_STATE_READY) == GST_STATE_CHANGE_SUCCESS) {
        connectionHolder = sink;
        return;
    }
    gst_element_set_state(sink, GST_STATE_NULL);
    gst_object_unref(sink);
}

bool LetGoDeadSoundServerConnection() {
    if (!connectionHolder)
        return false;
    // The sink asks the server about its output; a dead connection cannot.
    gchar* output = nullptr;
    g_object_get(connectionHolder, "device-name", &output, nullptr);
    const bool alive = output != nullptr;
    g_free(output);
    if (alive)
        return false;
    gst_element_set_state(connectionHolder, GST_STATE_NULL);
    gst_object_unref(connectionHolder);
    connectionHolder = nullptr;
    return true;
}

GstElement* MakeSink(const QByteArray& factory) {
    GstElement* sink = gst_element_factory_make(factory.constData(), nullptr);
    // A fake sink that does not wait for the clock would finish a track in
    // an instant; playing silently must still take the track's own time.
    if (sink && factory == "fakesink")
        g_object_set(sink, "sync", TRUE, nullptr);
    return sink;
}

GstElement* MakeWindowSink(GstElement*& fitFilter) {
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

QSize ShownVideoSize(GstElement* playbin) {
    GstPad* pad = nullptr;
    g_signal_emit_by_name(playbin, "get-video-pad", 0, &pad);
    GstCaps* caps = pad ? gst_pad_get_current_caps(pad) : nullptr;
    int width = 0, height = 0, parN = 1, parD = 1;
    if (caps) {
        const GstStructure* format = gst_caps_get_structure(caps, 0);
        gst_structure_get_int(format, "width", &width);
        gst_structure_get_int(format, "height", &height);
        if (!gst_structure_get_fraction(format, "pixel-aspect-ratio", &parN, &parD) || parN <= 0 ||
            parD <= 0)
            parN = parD = 1;
        gst_caps_unref(caps);
    }
    if (pad)
        gst_object_unref(pad);
    if (width <= 0 || height <= 0)
        return {};
    return {std::max(1, int(std::lround(double(width) * parN / parD))), height};
}

void ScaleVideo(GstElement* fitFilter, const QSize& size) {
    if (!fitFilter)
        return;
    GstCaps* fit = size.isEmpty() ? nullptr
                                  : gst_caps_new_simple("video/x-raw", "width", G_TYPE_INT,
                                                        size.width(), "height", G_TYPE_INT,
                                                        size.height(), "pixel-aspect-ratio",
                                                        GST_TYPE_FRACTION, 1, 1, nullptr);
    g_object_set(fitFilter, "caps", fit, nullptr);
    if (fit)
        gst_caps_unref(fit);
}

void DrawInto(GstElement* windowSink, quintptr window) {
    GstElement* overlay =
        GST_IS_BIN(windowSink)
            ? gst_bin_get_by_interface(GST_BIN(windowSink), GST_TYPE_VIDEO_OVERLAY)
        : GST_IS_VIDEO_OVERLAY(windowSink) ? GST_ELEMENT(gst_object_ref(windowSink))
                                           : nullptr;
    if (!overlay)
        return;
    gst_video_overlay_set_window_handle(GST_VIDEO_OVERLAY(overlay), guintptr(window));
    gst_object_unref(overlay);
}
