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
// "pulsesink", another real output, or "fakesink" when there is nothing to
// hear.
const QByteArray& AudioSinkFactory();
// ximagesink fails cleanly when the display cannot be reached, where the auto
// sink crashes; off a display video is decoded and dropped in real time.
const QByteArray& VideoSinkFactory();

// Keeps this process's connection to the sound server open, once a track
// has made one. The server's sinks share one connection, which the last one
// to close ends: with none kept, every track (whose sink playbin takes down
// to NULL between files) connected anew.
void HoldSoundServerConnection();
// Lets the kept connection go when the server behind it has gone (it
// restarted, say): a sink that shares a dead connection fails at once.
// Returns whether it did.
bool LetGoDeadSoundServerConnection();

// A sink of the factory; a fake one keeps the track's own time.
GstElement* MakeSink(const QByteArray& factory);

// Answers the questions about formats that the sound server's sink would
// otherwise answer by opening a stream of its own on the server, only to
// close it again a moment later when the real stream opens: every track
// would show the desktop a stream come and go before its own.
void AnswerFormatQueries(GstElement* audioSink);

// Makes the sound server's sink show the stream as the program's, and named
// only by what NameStream sends: the tags of the file's own streams no
// longer rename it.
void TakeStreamName(GstElement* audioSink);
// Names the stream of an audio sink set up by TakeStreamName, as its next
// buffer reaches it. A stream made anew (the sink taken down to READY) needs
// the name again.
void NameStream(GstElement* audioSink, const QString& title, const QString& artist);

// The size the video of a prerolled playbin is shown at: its pixels at
// their shape. Empty without video.
QSize ShownVideoSize(GstElement* playbin);

// The window sink behind a caps filter (returned in fitFilter), which is
// left open unless the video must take another size (ScaleVideo).
GstElement* MakeWindowSink(GstElement*& fitFilter);
// Asks the converter in front of the window for pictures of that size in
// square pixels; an empty size leaves the video as it comes.
void ScaleVideo(GstElement* fitFilter, const QSize& size);
// Makes the window sink draw into the native window given, a window of the
// player's. Without one it would open a window of its own.
void DrawInto(GstElement* windowSink, quintptr window);
