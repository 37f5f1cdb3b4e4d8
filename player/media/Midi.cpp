#include "player/media/Midi.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <atomic>
#include <mutex>
#include <utility>

namespace {

// At fluiddec's own gain of 0.2 a single piano note peaks near -32 dBFS, far
// quieter than any other file; four times that leaves room for chords.
constexpr double MidiGain = 0.8;

std::atomic<int> synthsMade{0};

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

// A synthesiser with the soundfont loaded, the parts of it set up once.
GstElement* MakeSynth() {
    GstElement* synth = gst_element_factory_make("fluiddec", nullptr);
    if (!synth)
        return nullptr;
    gst_object_ref_sink(synth);
    if (!SoundFont().isEmpty())
        g_object_set(synth, "soundfont", SoundFont().constData(), nullptr);
    g_object_set(synth, "synth-gain", MidiGain, nullptr);
    if (GstPad* input = gst_element_get_static_pad(synth, "sink")) {
        gst_pad_add_probe(
            input, GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
            SkipToSegmentStart, new MidiSeekShortcut,
            [](gpointer data) { delete static_cast<MidiSeekShortcut*>(data); });
        gst_object_unref(input);
    }
    ++synthsMade;
    return synth;
}

// Loading the soundfont into a new synthesiser took 10 to 30 ms of every
// MIDI file's open, most of a MIDI track change. The synthesiser of the
// last track is kept, soundfont loaded (READY, its state locked), for the
// next one; its own reset on the way to PAUSED clears what the last track
// left in it. One is kept: two at a time are only met while a pipeline
// stops in the background as the next opens.
class KeptSynth {
public:
    GstElement* Take() {
        std::lock_guard<std::mutex> hold(lock_);
        return std::exchange(spare_, nullptr);
    }
    void Give(GstElement* synth) {
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (!spare_) {
                spare_ = synth;
                return;
            }
        }
        gst_element_set_locked_state(synth, FALSE);
        gst_element_set_state(synth, GST_STATE_NULL);
        gst_object_unref(synth);
    }

private:
    std::mutex lock_;
    GstElement* spare_ = nullptr;
};

KeptSynth& Kept() {
    static KeptSynth* const kept = new KeptSynth; // lives as long as the process
    return *kept;
}

} // namespace

// The element playbin plugs in for MIDI: a bin around a synthesiser taken
// from Kept() and given back when the bin stops.

struct TolvaneMidiSynth {
    GstBin parent;
    GstPad* input;
    GstPad* output;
    GstElement* synth; // ours, and in the bin while set
};
struct TolvaneMidiSynthClass {
    GstBinClass parent_class;
};

GType tolvane_midi_synth_get_type();
G_DEFINE_TYPE(TolvaneMidiSynth, tolvane_midi_synth, GST_TYPE_BIN)

namespace {

bool Attach(TolvaneMidiSynth* self) {
    if (self->synth)
        return true;
    GstElement* synth = Kept().Take();
    if (!synth && !(synth = MakeSynth()))
        return false;
    gst_element_set_locked_state(synth, FALSE);
    gst_bin_add(GST_BIN(self), synth);
    for (auto [ghost, name] : {std::pair{self->input, "sink"}, std::pair{self->output, "src"}}) {
        GstPad* pad = gst_element_get_static_pad(synth, name);
        gst_ghost_pad_set_target(GST_GHOST_PAD(ghost), pad);
        gst_object_unref(pad);
    }
    self->synth = synth;
    return true;
}

// Only below PAUSED, where no data flows through the synthesiser.
void Detach(TolvaneMidiSynth* self, bool keep) {
    GstElement* synth = std::exchange(self->synth, nullptr);
    if (!synth)
        return;
    gst_ghost_pad_set_target(GST_GHOST_PAD(self->input), nullptr);
    gst_ghost_pad_set_target(GST_GHOST_PAD(self->output), nullptr);
    gst_element_set_locked_state(synth, TRUE);
    gst_bin_remove(GST_BIN(self), synth);
    if (keep && GST_STATE(synth) == GST_STATE_READY) {
        Kept().Give(synth);
        return;
    }
    gst_element_set_locked_state(synth, FALSE);
    gst_element_set_state(synth, GST_STATE_NULL);
    gst_object_unref(synth);
}

GstStaticPadTemplate midiInput = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("audio/x-midi-event"));
GstStaticPadTemplate soundOutput = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("audio/x-raw, format = (string) F32LE, rate = (int) 44100, "
                    "channels = (int) 2, layout = (string) interleaved"));

} // namespace

void tolvane_midi_synth_init(TolvaneMidiSynth* self) {
    auto* type = GST_ELEMENT_GET_CLASS(self);
    self->input = gst_ghost_pad_new_no_target_from_template(
        "sink", gst_element_class_get_pad_template(type, "sink"));
    self->output = gst_ghost_pad_new_no_target_from_template(
        "src", gst_element_class_get_pad_template(type, "src"));
    gst_element_add_pad(GST_ELEMENT(self), self->input);
    gst_element_add_pad(GST_ELEMENT(self), self->output);
    self->synth = nullptr;
    Attach(self);
}

void tolvane_midi_synth_class_init(TolvaneMidiSynthClass* type) {
    auto* element = GST_ELEMENT_CLASS(type);
    gst_element_class_set_static_metadata(element, "MIDI synthesiser", "Codec/Decoder/Audio",
                                          "Plays MIDI through a General MIDI soundfont",
                                          "Tolvane");
    gst_element_class_add_static_pad_template(element, &midiInput);
    gst_element_class_add_static_pad_template(element, &soundOutput);
    G_OBJECT_CLASS(type)->dispose = [](GObject* object) {
        Detach(reinterpret_cast<TolvaneMidiSynth*>(object), false);
        G_OBJECT_CLASS(tolvane_midi_synth_parent_class)->dispose(object);
    };
    element->change_state = [](GstElement* element,
                               GstStateChange transition) -> GstStateChangeReturn {
        auto* self = reinterpret_cast<TolvaneMidiSynth*>(element);
        if (transition == GST_STATE_CHANGE_NULL_TO_READY ||
            transition == GST_STATE_CHANGE_READY_TO_PAUSED) {
            if (!Attach(self)) {
                GST_ELEMENT_ERROR(element, CORE, MISSING_PLUGIN,
                                  ("The MIDI synthesiser cannot be made."), (nullptr));
                return GST_STATE_CHANGE_FAILURE;
            }
        } else if (transition == GST_STATE_CHANGE_READY_TO_NULL) {
            Detach(self, true);
        }
        const GstStateChangeReturn result =
            GST_ELEMENT_CLASS(tolvane_midi_synth_parent_class)->change_state(element, transition);
        if (transition == GST_STATE_CHANGE_PAUSED_TO_READY)
            Detach(self, true);
        return result;
    };
}

void RegisterMidiSynth() {
    static const bool registered = [] {
        GstElementFactory* synth = gst_element_factory_find("fluiddec");
        if (!synth)
            return false;
        gst_object_unref(synth);
        // Above the synthesiser's own rank, so that it is plugged in instead.
        return bool(gst_element_register(nullptr, MidiSynthFactory, GST_RANK_PRIMARY,
                                         tolvane_midi_synth_get_type()));
    }();
    (void)registered;
}

int MidiSynthsMade() {
    return synthsMade;
}
