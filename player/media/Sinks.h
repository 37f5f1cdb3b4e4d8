#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>

#include <gst/gst.h>

// The sinks a pipeline plays through, and the video's window.

// The factory of the element a sink outputs through.
QByteArray FactoryName(GstElement* element);

// Chosen once per process: probing costs a connection to the sound server,
// and an auto sink inside the pipeline would repeat its probe at every open.
// The sound server's own sink (SoundServerSink.h), another real output, or
// "fakesink" when there is nothing to hear.
const QByteArray& AudioSinkFactory();
// ximagesink fails cleanly when the display cannot be reached, where the auto
// sink crashes; off a display video is decoded and dropped in real time.
const QByteArray& VideoSinkFactory();

// A sink of the factory; a fake one keeps the track's own time.
GstElement* MakeSink(const QByteArray& factory);

// The size the video of a prerolled playbin is shown at: its pixels at
// their shape. Empty without video.
QSize ShownVideoSize(GstElement* playbin);

// The window sink behind a caps filter (returned in fitFilter), which is
// left open unless the video must take another size (ScaleVideo).
GstElement* MakeWindowSink(GstElement*& fitFilter);
// Asks the converter in front of the window for pictures of that size in
// square pixels; an empty size leaves the video as it comes.
void ScaleVideo(GstElement* fitFilter, const QSize& size);
// Whether the pictures that passed the filter last came at that size in
// square pixels.
bool FitsSize(GstElement* fitFilter, const QSize& size);
// Makes the window sink draw into the native window given, a window of the
// player's. Without one it would open a window of its own.
void DrawInto(GstElement* windowSink, quintptr window);
// Draws the window sink's last picture again.
void Redraw(GstElement* windowSink);
