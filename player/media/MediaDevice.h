#pragma once

#include "player/media/MediaPlayer.h"

#include <QByteArray>
#include <QSize>
#include <QString>

// What plays for a TMediaPlayer: a pipeline in this process
// (TPipelineDevice) or one in a child process (TPlayingWorker). The player
// checks that a file is open before each command but Open and Close.
class TMediaDevice {
public:
    virtual ~TMediaDevice() = default;

    // Raise EMCIDeviceError with the reason.
    virtual void Open(const QByteArray& path) = 0;
    virtual void Close() = 0;
    virtual void Play() = 0;
    virtual void Pause() = 0;
    virtual void Stop() = 0;
    virtual void Seek(qint64 ms) = 0;

    virtual bool IsOpen() const = 0;
    virtual qint64 Position() = 0;
    virtual qint64 Length() = 0;
    virtual TMPModes Mode() = 0;
    virtual QString LastError() const = 0;
    // The last open lacked a decoder that was left out (see DecoderPolicy).
    virtual bool LackedDecoder() const { return false; }
    // What the sound server calls the open file's stream (the title) and
    // the artist it shows with it; kept for the open file only.
    virtual void SetStreamTitle(const QString& title, const QString& artist) = 0;
    // The open file's pictures at their own size and shape; empty when it
    // has none.
    virtual QSize VideoSize() { return {}; }
    // Where pictures go: the native window `window`, kept for the files
    // opened later, and the size the open file's pictures fill there, from
    // its next play on. A video opened while the window is known prerolls
    // there. Without a window pictures are not shown.
    virtual void SetVideoWindow(quintptr window, const QSize& size) = 0;
    // The window was exposed: the open file's picture is drawn there again.
    virtual void RedrawVideo() {}
};
