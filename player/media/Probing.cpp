#include "player/media/Probing.h"

#include <gst/base/gsttypefindhelper.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QString ErrorText(GstMessage* message) {
    GError* error = nullptr;
    gst_message_parse_error(message, &error, nullptr);
    QString text = error && error->message ? QString::fromUtf8(error->message)
                                           : QStringLiteral("Unknown error code");
    if (error)
        g_error_free(error);
    return text;
}

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

namespace {

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

} // namespace

bool HasMediaType(const QByteArray& path, bool* pictures) {
    if (pictures)
        *pictures = false;
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
    if (pictures && !gst_caps_is_empty(caps)) {
        const char* type = gst_structure_get_name(gst_caps_get_structure(caps, 0));
        *pictures = g_str_has_prefix(type, "video/") && strcmp(type, "video/x-ms-asf") != 0;
    }
    gst_caps_unref(caps);
    return true;
}

namespace {

void LinkToFakeSink(GstElement* /*parsebin*/, GstPad* pad, gpointer pipeline) {
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    g_object_set(sink, "sync", FALSE, nullptr);
    gst_bin_add(GST_BIN(pipeline), sink);
    gst_element_sync_state_with_parent(sink);
    GstPad* input = gst_element_get_static_pad(sink, "sink");
    gst_pad_link(pad, input);
    gst_object_unref(input);
}

} // namespace

qint64 ScanLength(const QByteArray& path, MediaClock::time_point deadline) {
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
