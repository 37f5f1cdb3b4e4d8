#pragma once

#include <QtGlobal>

#include <gst/gst.h>

#include <mutex>
#include <thread>

// Seeks are sent from a thread of their own: a demuxer or parser works out
// where the target lies in the caller's thread, which for an MP3 without an
// index means reading through the file. The seeker sends the latest target
// (a newer one replaces one not yet sent), then puts the pipeline into the
// state asked for meanwhile. Only it and the callers that wait for it change
// the pipeline's state while it runs.
class TSeeker {
public:
    TSeeker() = default;
    ~TSeeker() { Wait(); }
    TSeeker(const TSeeker&) = delete;
    TSeeker& operator=(const TSeeker&) = delete;

    // Sets the pipeline going to ms and returns.
    void Start(GstElement* pipeline, qint64 ms);
    // Drops a target not yet sent and waits until the thread is done.
    void Wait();
    // Whether a target is still being sent; failed tells whether the last
    // one could not be.
    bool Busy(bool& failed);
    // Pause and stop can go to PAUSED at once; playing must wait until the
    // seek has been sent, or the seeker would pause it again. Returns true
    // when the seeker takes the state over (play: whether it plays after).
    bool TakeOver(bool play);

private:
    void Run(GstElement* pipeline);

    std::thread thread_;
    std::mutex lock_;
    bool busy_ = false;          // under lock_
    qint64 nextTarget_ = -1;     // under lock_; a target not yet sent
    bool playAfterSeek_ = false; // under lock_
    bool failed_ = false;        // under lock_
};
