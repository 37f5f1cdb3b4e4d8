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

int AbandonedPipelineCount() {
    return abandonedPipelines;
}

int MillisecondsLeft(MediaClock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - MediaClock::now()).count();
    return int(std::max<qint64>(0, left));
}
