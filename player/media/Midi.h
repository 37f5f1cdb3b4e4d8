#pragma once

#include <gst/gst.h>

// playbin's "element-setup" handler: gives the MIDI synthesiser a General
// MIDI soundfont and its gain, and a shortcut through the file after seeks.
void SetUpMidiSynth(GstElement* playbin, GstElement* element, gpointer data);
