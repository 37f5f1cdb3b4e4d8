#pragma once

#include <gst/gst.h>

// playbin's "element-setup" handler: gives the MIDI synthesiser a General
// MIDI soundfont and its gain, and a shortcut through the file after seeks.
// data: a std::atomic<bool> set when a synthesiser is set up, or null.
void SetUpMidiSynth(GstElement* playbin, GstElement* element, gpointer data);
