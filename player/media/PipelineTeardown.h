#pragma once

#include <gst/gst.h>

#include <chrono>

using MediaClock = std::chrono::steady_clock;

// GStreamer is made ready once per process, on the first use of a pipeline.
void InitGStreamer();

// Brings a pipeline to NULL (or READY) on a thread of its own and waits for
// it at most TMediaPlayer::StopTimeoutMs. A streaming thread caught in a
// decoder's endless loop never looks at the flushing flag, and both wait for
// every streaming thread: that wait must not be the caller's. Returns false
// when the pipeline was left; the stopping thread keeps a reference of its
// own, so the caller drops its references either way but must not use the
// pipeline again.
bool StopPipeline(GstElement* pipeline, GstState state = GST_STATE_NULL);

// Brings a pipeline to NULL as StopPipeline does, on a thread of its own,
// without waiting for it: the caller goes on with another pipeline at once.
// A pipeline that has not stopped within TMediaPlayer::StopTimeoutMs counts
// as left.
void LetPipelineStop(GstElement* pipeline);
// Waits at most TMediaPlayer::StopTimeoutMs for the pipelines let stop so
// far, before this process ends.
void WaitForStoppingPipelines();

// How many pipelines this process has left so.
int AbandonedPipelineCount();

int MillisecondsLeft(MediaClock::time_point deadline);
