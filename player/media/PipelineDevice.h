#pragma once

#include "player/media/MediaDevice.h"
#include "player/media/PipelineTeardown.h"
#include "player/media/Seeker.h"

#include <gst/gst.h>

// A file played by playbin in this process. The pipeline's own state is
// only PAUSED or PLAYING while a file is open; the modes callers see
// (stopped vs paused, the end of the track) are kept here, because GStreamer
// has no "stopped" and stays PLAYING after its end. Without a main loop the
// bus is read whenever someone asks about the device.
class TPipelineDevice : public TMediaDevice {
public:
    explicit TPipelineDevice(TMediaPlayer::Output output) : output_(output) {}
    ~TPipelineDevice() override;

    void Open(const QByteArray& path) override;
    void Close() override;
    void Play() override;
    void Pause() override;
    void Stop() override;
    void Seek(qint64 ms) override;

    bool IsOpen() const override { return open_; }
    qint64 Position() override;
    qint64 Length() override;
    TMPModes Mode() override;
    QString LastError() const override { return lastError_; }
    bool LackedDecoder() const override { return pluginMissing_; }
    void SetStreamTitle(const QString& title, const QString& artist) override;
    // Whether the open file shows pictures.
    bool HasVideo() const { return hasVideo_; }
    QSize VideoSize() override { return videoSize_; }
    void SetVideoWindow(quintptr window, const QSize& size) override;
    void RedrawVideo() override;

    // Builds the pipeline ahead of the first file.
    void MakePipeline();
    // The pipeline's bus, whose messages the device takes whenever it is
    // asked about its state; null before the first pipeline.
    GstBus* Bus() const { return bus_; }

private:
    void Release();
    void ShowVideoInWindow(bool window);
    void Shut();
    [[noreturn]] void FailOpen(const QString& reason);
    bool QueryLength();
    QString Preroll(MediaClock::time_point deadline);
    GstMessage* NextMessage(GstMessageType types, int ms);
    void OpenPipeline(const QByteArray& path, bool pictures);
    void MoveVideoToWindow(qint64 at);
    void MarkEnded();
    void Poll(bool honourEnd = true);
    void Settle();
    bool SeekTo(qint64 ms);
    void StartSeek(qint64 ms);
    bool SeekSettled();
    void PausePipeline();
    void PlayPipeline();
    void NameStream();

    const TMediaPlayer::Output output_;
    GstElement* playbin_ = nullptr;
    GstBus* bus_ = nullptr;
    QString streamTitle_;
    QString streamArtist_;

    bool open_ = false;
    TMPModes mode_ = TMPModes::mpNotReady;
    qint64 length_ = 0;
    // Returned while the pipeline cannot tell its position (MPEG before the
    // first seek, a query in the middle of a state change).
    qint64 lastPosition_ = 0;
    // Played to the end (or broke off while playing): the position is the
    // length, the mode stopped, and the next play starts from the beginning.
    bool ended_ = false;
    // Sought to the end: it stands there stopped, and playing on from there
    // ends it at once rather than starting the track again.
    bool parkedAtEnd_ = false;
    // The length was measured by reading the file through, not estimated:
    // later estimates from the playing pipeline must not replace it.
    bool lengthScanned_ = false;
    // A seek runs on in the pipeline's own threads after Seek returned (a
    // long MIDI file takes seconds to get to a place); until the pipeline
    // has settled, its position is the target.
    bool seekPending_ = false;
    // Sought and not played since: the device stands at the target, which is
    // its position, whatever the pipeline rounds it to.
    bool standingAtTarget_ = false;
    QString lastError_;

    // A file whose type holds pictures opens into the window sink when the
    // window is known, anything else into a fake sink; a video there moves
    // to its window when it first plays. Without a display the fake sink is
    // all there is. The window sink is made for the first video to go there
    // (WindowSink): sound alone never waits for the display.
    GstElement* WindowSink();
    GstElement* windowSink_ = nullptr;
    GstElement* hiddenSink_ = nullptr;
    GstElement* videoSink_ = nullptr;
    // In front of the window sink: scales the video to its window's size.
    GstElement* fitFilter_ = nullptr;
    bool hasVideo_ = false;
    QSize videoSize_;
    // The window pictures go to (0: none, so they are not shown), kept from
    // file to file, and the size the open file's pictures fill there.
    quintptr videoWindow_ = 0;
    QSize videoWindowSize_;

    // The last preroll asked for a plugin that is not at hand.
    bool pluginMissing_ = false;
    // The pipeline met an error since it last stood in NULL: what a damaged
    // file left in it must not meet the next one.
    bool faulted_ = false;
    TSeeker seeker_;
};
