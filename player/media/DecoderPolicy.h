#pragma once

#include <QByteArray>

#include <functional>

// Which decoders a process lets GStreamer pick.
//
// The process that plays keeps every decoder: it is a child of the player
// that is let go after a number of tracks or when no track follows, so
// FFmpeg's libraries (some 70 MB once mapped) leave with it. Of two
// decoders of the same rank it takes GStreamer's own before FFmpeg's, which
// then loads only for what nothing else decodes. A process that tests files
// for the player tries FFmpeg's decoders last, so that a file is judged by
// the decoders that play it anyway, and FFmpeg loads only for the files
// that need it.

void AllowEveryDecoderHere();
void TryFFmpegLastHere();
// Ranks FFmpeg's features out of autoplugging, once, when this process tries
// them last; called before the first pipeline.
void ApplyDecoderPolicy();
// Runs work with FFmpeg's features ranked as they were.
void RunWithEveryDecoder(const std::function<void()>& work);
// Whether FFmpeg's decoders have been loaded into this process.
bool FFmpegLoadedHere();
