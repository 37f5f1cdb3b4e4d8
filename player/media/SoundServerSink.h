#pragma once

#include <QByteArray>
#include <QString>

#include <gst/gst.h>

// The sound server's sink of a playing process. Every pipeline of the
// process plays into one stream on the server, which stays from track to
// track: a track ends by holding the stream (corked, emptied), and the next
// one, in the same pipeline or a new one, takes it up again. The server and
// the desktop's volume controls then see one stream for the whole session,
// and a track change costs no stream made and torn down.
//
// The stream carries 32-bit float stereo: the pipeline converts every track
// to it, so that a track of another sample format or channel count never
// needs another stream. A track of another rate changes the stream's rate.
// A stream that no track takes up within five seconds is let go.

// The factory name the sink is made by, once RegisterSoundServerSink ran.
inline constexpr char SoundServerSinkFactory[] = "tolvanesoundsink";

// Makes the sink known to GStreamer, once per process.
void RegisterSoundServerSink();

// Connects this process to the sound server, or finds it connected; after
// the server went away (it restarted, say) it connects anew. Returns whether
// the server answered.
bool ConnectSoundServer();

// Names the stream by the track, at once if it is there and otherwise when
// it is made. An empty artist removes the previous track's.
void NameSoundServerStream(const QString& title, const QString& artist);
