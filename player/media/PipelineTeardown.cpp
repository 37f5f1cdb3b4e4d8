#include "player/media/PipelineTeardown.h"

#include "player/media/MediaPlayer.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace {

std::atomic<int> abandonedPipelines{0};

// The pipelines let stop that have not yet stopped or been left.
std::mutex stoppingLock;
std::condition_variable stoppingDone;
int stoppingPipelines = 0;

} // namespace

void InitGStreamer() {
    static std::once_flag once;
    std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

bool StopPipeline(GstElement* pipeline, GstState state) {
    struct Stopping {
        std::mutex lock;
        std::condition_variable stopped;
        bool done = false;
    };
    auto stopping = std::make_shared<Stopping>();
    gst_object_ref(pipeline);
    std::thread([stopping, pipeline, state] {
        gst_element_set_state(pipeline, state);
        gst_object_unref(pipeline);
        std::lock_guard<std::mutex> hold(stopping->lock);
        stopping->done = true;
        stopping->stopped.notify_all();
    }).detach();
    std::unique_lock<std::mutex> hold(stopping->lock);
    if (stopping->stopped.wait_for(hold, std::chrono::milliseconds(TMediaPlayer::StopTimeoutMs),
                                   [&] { return stopping->done; }))
        return true;
    ++abandonedPipelines;
    return false;
}

void LetPipelineStop(GstElement* pipeline) {
    gst_object_ref(pipeline);
    {
        std::lock_guard<std::mutex> hold(stoppingLock);
        ++stoppingPipelines;
    }
    std::thread([pipeline] {
        StopPipeline(pipeline);
        gst_object_unref(pipeline);
        std::lock_guard<std::mutex> hold(stoppingLock);
        --stoppingPipelines;
        stoppingDone.notify_all();
    }).detach();
}

void WaitForStoppingPipelines() {
    std::unique_lock<std::mutex> hold(stoppingLock);
    stoppingDone.wait_for(hold, std::chrono::milliseconds(TMediaPlayer::StopTimeoutMs),
                          [] { return stoppingPipelines == 0; });
}

int AbandonedPipelineCount() {
    return abandonedPipelines;
}

int MillisecondsLeft(MediaClock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - MediaClock::now()).count();
    return int(std::max<qint64>(0, left));
}
