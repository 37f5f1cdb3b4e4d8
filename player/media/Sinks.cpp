#include "player/media/Sinks.h"

#include "player/media/SoundServerSink.h"

#include <gst/video/videooverlay.h>

#include <algorithm>
#include <cmath>

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

} // namespace

QByteArray FactoryName(GstElement* element) {
    GstElementFactory* factory = gst_element_get_factory(element);
    return factory ? QByteArray(gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)))
                   : QByteArray();
}

const QByteArray& AudioSinkFactory() {
    static const QByteArray choice = [] {
        RegisterSoundServerSink();
        if (ConnectSoundServer())
            return QByteArray(SoundServerSinkFactory);
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
    // The sink's own thread for the window's events would wake twenty times
    // a second while a video plays, and hold up each pipeline that lays the
    // sink down by up to 50 ms; the window's owner says when to draw again
    // (Redraw) instead.
    if (sink && g_object_class_find_property(G_OBJECT_GET_CLASS(sink), "handle-events"))
        g_object_set(sink, "handle-events", FALSE, "handle-expose", FALSE, nullptr);
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

namespace {

// The size and pixel shape of the pictures a pad passes now; empty when
// none have passed.
struct Pictures {
    QSize size;
    int parN = 1, parD = 1;
};

Pictures PicturesAt(GstPad* pad) {
    Pictures pictures;
    GstCaps* caps = pad ? gst_pad_get_current_caps(pad) : nullptr;
    if (!caps)
        return pictures;
    const GstStructure* format = gst_caps_get_structure(caps, 0);
    int width = 0, height = 0;
    gst_structure_get_int(format, "width", &width);
    gst_structure_get_int(format, "height", &height);
    if (!gst_structure_get_fraction(format, "pixel-aspect-ratio", &pictures.parN,
                                    &pictures.parD) ||
        pictures.parN <= 0 || pictures.parD <= 0)
        pictures.parN = pictures.parD = 1;
    gst_caps_unref(caps);
    if (width > 0 && height > 0)
        pictures.size = QSize(width, height);
    return pictures;
}

// The element of the window sink that draws, with a reference; null when
// it draws into no window.
GstVideoOverlay* OverlayOf(GstElement* windowSink) {
    GstElement* overlay =
        GST_IS_BIN(windowSink)
            ? gst_bin_get_by_interface(GST_BIN(windowSink), GST_TYPE_VIDEO_OVERLAY)
        : GST_IS_VIDEO_OVERLAY(windowSink) ? GST_ELEMENT(gst_object_ref(windowSink))
                                           : nullptr;
    return overlay ? GST_VIDEO_OVERLAY(overlay) : nullptr;
}

} // namespace

QSize ShownVideoSize(GstElement* playbin) {
    GstPad* pad = nullptr;
    g_signal_emit_by_name(playbin, "get-video-pad", 0, &pad);
    const Pictures pictures = PicturesAt(pad);
    if (pad)
        gst_object_unref(pad);
    if (pictures.size.isEmpty())
        return {};
    return {std::max(1, int(std::lround(double(pictures.size.width()) * pictures.parN /
                                        pictures.parD))),
            pictures.size.height()};
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

bool FitsSize(GstElement* fitFilter, const QSize& size) {
    if (!fitFilter)
        return true;
    GstPad* output = gst_element_get_static_pad(fitFilter, "src");
    const Pictures pictures = PicturesAt(output);
    gst_object_unref(output);
    return pictures.size == size && pictures.parN == pictures.parD;
}

void DrawInto(GstElement* windowSink, quintptr window) {
    if (GstVideoOverlay* overlay = OverlayOf(windowSink)) {
        gst_video_overlay_set_window_handle(overlay, guintptr(window));
        gst_object_unref(overlay);
    }
}

void Redraw(GstElement* windowSink) {
    if (GstVideoOverlay* overlay = OverlayOf(windowSink)) {
        gst_video_overlay_expose(overlay);
        gst_object_unref(overlay);
    }
}
