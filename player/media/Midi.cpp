#include "player/media/Midi.h"

#include "player/media/Sinks.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <atomic>

namespace {

// At fluiddec's own gain of 0.2 a single piano note peaks near -32 dBFS, far
// quieter than any other file; four times that leaves room for chords.
constexpr double MidiGain = 0.8;

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

} // namespace

void SetUpMidiSynth(GstElement* /*playbin*/, GstElement* element, gpointer data) {
    if (FactoryName(element) != "fluiddec")
        return;
    if (data)
        *static_cast<std::atomic<bool>*>(data) = true;
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
