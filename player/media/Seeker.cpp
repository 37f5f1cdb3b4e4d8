#include "player/media/Seeker.h"

void TSeeker::Run(GstElement* pipeline) {
    std::unique_lock lock(lock_);
    while (nextTarget_ >= 0) {
        const qint64 target = nextTarget_;
        nextTarget_ = -1;
        lock.unlock();
        gst_element_set_state(pipeline, GST_STATE_PAUSED);
        const bool done = gst_element_seek_simple(
            pipeline, GST_FORMAT_TIME, GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
            target * GST_MSECOND);
        lock.lock();
        failed_ = !done;
    }
    if (playAfterSeek_)
        gst_element_set_state(pipeline, GST_STATE_PLAYING);
    busy_ = false;
}

void TSeeker::Wait() {
    {
        std::lock_guard lock(lock_);
        nextTarget_ = -1;
        playAfterSeek_ = false;
    }
    if (thread_.joinable())
        thread_.join();
}

void TSeeker::Start(GstElement* pipeline, qint64 ms) {
    std::lock_guard lock(lock_);
    nextTarget_ = ms;
    playAfterSeek_ = failed_ = false;
    if (!busy_) {
        if (thread_.joinable())
            thread_.join(); // it has finished, or is just leaving
        busy_ = true;
        thread_ = std::thread([this, pipeline] { Run(pipeline); });
    }
}

bool TSeeker::Busy(bool& failed) {
    std::lock_guard lock(lock_);
    failed = failed_;
    return busy_;
}

bool TSeeker::TakeOver(bool play) {
    std::lock_guard lock(lock_);
    if (busy_)
        playAfterSeek_ = play;
    return busy_;
}
