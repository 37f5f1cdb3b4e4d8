#pragma once

#include <QByteArray>
#include <QObject>
#include <QSize>
#include <QString>
#include <functional>
#include <memory>
#include <stdexcept>

// Raised by the media device; what() is the readable reason.
class EMCIDeviceError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class TMPModes { mpNotReady, mpStopped, mpPlaying, mpRecording, mpSeeking, mpPaused, mpOpen };

// One media device: one file at a time, positions and lengths in milliseconds.
// OpenMedia is synchronous and bounded in time; PlayMedia and SeekMedia
// return at once. A seek goes on in the background, and until it has settled
// the device reports the target as its position; a second seek replaces it.
// The end of a track is found by polling: once played to its end the device
// reports MediaPosition() == MediaLength() and the mode stopped.
class TMediaPlayer : public QObject {
    Q_OBJECT
public:
    // Real: plays through the sound server and shows video in a window.
    // None: for a player that only tests whether files open; it never
    // touches the sound server or the display.
    enum class Output { Real, None };

    explicit TMediaPlayer(QObject* parent = nullptr, Output output = Output::Real);
    ~TMediaPlayer() override;

    // Path of the file that OpenMedia opens next, as bytes (file names on
    // Linux need not be valid UTF-8).
    QByteArray FileName;

    void OpenMedia();
    // As OpenMedia, from a child that is given up when the file has not
    // opened within limitMs: false then, with nothing open (the file may
    // hang whatever opens it, which the caller finds out in its own time).
    // Always false where files open in this process, which cannot give up.
    bool OpenMediaWithin(int limitMs);
    void CloseMedia();
    void PlayMedia();
    void PauseMedia();
    void StopMedia();
    void SeekMedia(qint64 ms);
    qint64 MediaPosition() const;
    qint64 MediaLength() const;
    TMPModes MediaMode() const;

    bool isOpen() const;

    // Names the open file's stream on the sound server by its track, with
    // the artist beside it (may be empty). Until this comes a stream goes by
    // its file's name; the next open goes back to that.
    void SetStreamTitle(const QString& title, const QString& artist);

    // The last error that a command met without raising it (a failed seek, a
    // stream that broke off while playing); empty when there was none.
    QString LastError() const;

    // An open that has not prerolled within this time fails.
    static constexpr int OpenTimeoutMs = 10000;

    // The sinks that files play through, as probed from this process (a
    // playing child probes the same in the same environment): the audio
    // sink's factory ("pulsesink", another real output, or
    // "fakesink" when there is nothing to hear), and the video sink's
    // ("ximagesink" on a display, else "fakesink").
    static QByteArray AudioSinkName();
    static QByteArray VideoSinkName();

    // A pipeline that has not stopped within this time is left to itself
    // and never waited for again: a decoder that loops or blocks must not
    // take the caller with it.
    static constexpr int StopTimeoutMs = 2000;
    // How many pipelines this process has left so (their threads may still
    // run).
    static int AbandonedPipelines();

    // A player that plays (Output::Real) plays each file in a child process
    // of its own (TPlayingWorker), unseen by the callers: no decoder runs in
    // the caller's process, and a file that crashes or hangs one costs that
    // track. Its state is the child's last report, read without waiting.
    // The child keeps every decoder; this says so for a process that plays
    // files itself.
    static void AllowEveryDecoder();
    // Starts the child that will play the first file, for a program about
    // to play one: its start then runs beside the caller's own. Given that
    // file, the child loads ahead the decoders its kind needs.
    static void PrepareToPlay(const QByteArray& firstFile = {});
    // Takes the child the program's start made for the first file, before
    // it was the player (see TPlayingWorker::TakeStartedChild), for a player
    // that will play a file; any other ends it. Called before anything else
    // starts a process.
    static void TakeStartedChild(bool wanted);
    // Whether FFmpeg's decoders have been loaded into this process.
    static bool HoldsFFmpegDecoders();
    // For a process that tests files for a playing one: FFmpeg's decoders
    // (GStreamer's "libav" plugin, some 70 MB once loaded) are tried last,
    // so that they load only for the files that need them. A file that
    // opened without one for want of a decoder (LackedDecoder) is tried
    // again with every decoder in work run by WithEveryDecoder, on a device
    // made there.
    static void TryFFmpegLast();
    bool LackedDecoder() const;
    static void WithEveryDecoder(const std::function<void()>& work);

    // Pictures are drawn into a window of the caller's, never into one of
    // the device's own. When a file with pictures first plays,
    // videoAboutToShow tells their size (their pixels at their shape); a
    // slot connected directly shows a window for them and names it with
    // SetVideoWindow, with the size the pictures are to fill there. The
    // window stays named for the files that follow, whose first picture
    // goes there as they open, until SetVideoWindow(0) says it is gone.
    // Without a window the file plays unseen. videoHidden: the file is
    // closed and nothing plays into that window until the next video.
    void SetVideoWindow(quintptr window, const QSize& size);
    // The window was exposed (uncovered, shown again): what it showed is
    // gone, and the open file's picture is drawn there again.
    void RedrawVideo();

signals:
    // A file is about to open. A slot connected directly may name a window
    // first (SetVideoWindow, with no size yet), so that even the first
    // video's pictures go straight there as it opens.
    void aboutToOpen();
    void videoAboutToShow(const QSize& size);
    void videoHidden();

private:
    void HideVideo();

    struct Private;
    std::unique_ptr<Private> d;
};
