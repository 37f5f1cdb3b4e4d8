#pragma once

#include <gst/gst.h>

// MIDI plays through a synthesiser with a General MIDI soundfont at a gain
// that matches other files, with a shortcut through the file after seeks.
// One synthesiser is kept from track to track, so the soundfont loads once
// per process rather than at every MIDI file.

// The factory name of the element playbin plugs in for MIDI, once
// RegisterMidiSynth ran (where GStreamer's FluidSynth plugin is at hand).
inline constexpr char MidiSynthFactory[] = "tolvanemidisynth";

// Makes the element known to GStreamer, once per process.
void RegisterMidiSynth();

// How many synthesisers this process loaded the soundfont into.
int MidiSynthsMade();

