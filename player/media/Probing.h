#pragma once

#include "player/media/PipelineTeardown.h"

#include <QByteArray>
#include <QString>

#include <gst/gst.h>

// The checks a file meets before a pipeline plays it.

// Why a path cannot be media, before any decoder sees it: a FIFO or a device
// would block the file source for good, a folder or an empty file can only
// fail more slowly further down. Empty when it may be media. Touches no
// decoder, so the window's process may ask it.
QString UnplayablePathReason(const QByteArray& path);

// The pipeline's first step, taken without a pipeline: the type finder runs
// the same finders over the same bytes, with the same extension as a hint.
// Most files that are no media at all stop here, at a fraction of the cost
// of starting and stopping a pipeline's threads. pictures, when given, tells
// whether the type found is a container that holds video as a rule (AVI,
// MPEG program streams, QuickTime, Matroska), not ASF, which WMA files use
// as often as video does.
bool HasMediaType(const QByteArray& path, bool* pictures = nullptr);

// An MP3 without a Xing header does not say how long it is, and the playing
// pipeline only guesses from the bitrate seen so far, late and (for VBR) off
// by seconds: a length too short would end the track early. Reading the
// frames through without decoding them gives the true length quickly (a
// 5-minute MP3 takes some 20 ms). Returns 0 when that fails.
qint64 ScanLength(const QByteArray& path, MediaClock::time_point deadline);

// The readable text of an error message.
QString ErrorText(GstMessage* message);
