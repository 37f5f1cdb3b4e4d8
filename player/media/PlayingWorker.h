#pragma once

#include "player/media/MediaDevice.h"
#include "player/media/WorkerChannel.h"

#include <QByteArray>
#include <QString>
#include <QTimer>
#include <chrono>

// The open file played by a child process (tolvane-tester --play), so that
// no decoder ever runs in the window's process: decoders are the code that
// meets hostile bytes, and one that crashes, hangs or spins takes only its
// child with it. The next file goes to the same child, also after a close;
// the child ends after a number of files, with a file that fails, or when
// no file follows a close within seconds, so that its memory (FFmpeg's
// libraries, say) really comes back. Another one is made ready only when
// one will be needed: for the first file of a program started with files
// or a playlist, when the child will not take the next file, and while a
// file too slow to open goes to the tester.
//
// The child reports its state (position, mode, length, errors) as it
// changes, at least once a second; what the device answers about its state
// is the last report, read without waiting, and a playing track's position
// counted on from it. Commands wait for the child a bounded time. A child that dies, goes silent or
// overruns a limit is killed and reaped at once, and the file counts as broken off (Broken()): at
// its end, stopped, as a stream that broke off while playing.
class TPlayingWorker : public TMediaDevice {
public:
    // What the child's device reports.
    struct State {
        bool open = false;
        TMPModes mode = TMPModes::mpNotReady;
        qint64 position = 0;
        qint64 length = 0;
        QString lastError;
        // The child holds FFmpeg's decoders (the next child loads them
        // ahead, as the tracks of an album come one after the other).
        bool ffmpeg = false;
        // A pipeline in the child would not stop and was left running: the
        // child is spent, and the next file goes to another.
        bool spent = false;
        // The open file's pictures at their own size; empty without.
        QSize videoSize;
        // When the child took this state, on the steady clock both share.
        qint64 at = 0;
    };

    TPlayingWorker();
    ~TPlayingWorker() override;

    void Open(const QByteArray& path) override;
    // As Open, but a child that has not opened the file within limitMs is
    // killed, and false returned with nothing open.
    bool OpenWithin(const QByteArray& path, int limitMs);
    void Close() override;
    void Play() override;
    void Pause() override;
    void Stop() override;
    void Seek(qint64 ms) override;
    void SetStreamTitle(const QString& title, const QString& artist) override;
    QSize VideoSize() override { return open_ ? state_.videoSize : QSize(); }
    void SetVideoWindow(quintptr window, const QSize& size) override;
    void RedrawVideo() override;

    bool IsOpen() const override { return open_; }
    qint64 Position() override;
    qint64 Length() override;
    TMPModes Mode() override;
    QString LastError() const override { return state_.lastError; }

    // The child died or stopped answering while the file was open.
    bool Broken() const { return broken_; }
    // The child that plays the open file; 0 when none does.
    pid_t ChildPid() const { return channel_.Pid(); }

    // The program that hosts the child, among the player's helpers, and
    // whether it is there (without it files play in the player itself).
    static QByteArray Program();
    static bool Available();
    // Starts a child for the next file that opens, unless one is ready;
    // withDecoders: it loads FFmpeg's decoders before it says it is.
    static void Prepare(bool withDecoders);
    // Takes the child the program's start made for the first file
    // (StartedChildVariable, player/media/ChildStart.h) as the one ready for
    // the next file, or ends it when it is not wanted, and clears the
    // variable.
    static void TakeStartedChild(bool wanted);

    // The child's side: carries out the commands read from input and
    // reports on output, until input ends. loadDecoders: loads FFmpeg's
    // decoders before the first command. first: the file the player will
    // ask for first, opened before it asks (null: none).
    static int Run(int input, int output, bool loadDecoders, const char* first = nullptr);

private:
    // Sends a command and waits for the child's answer within timeoutMs;
    // returns the error the child's device raised.
    QString Call(char command, const QByteArray& argument, int timeoutMs);
    // Takes the reports that have come, without waiting.
    void Listen();
    void Take(const QByteArray& frame, QString* error);
    void BreakOff();
    // Whether the child may take the next file.
    bool Reusable() const;
    // Ends the child, with the file open in it.
    void LetGo();

    // How many files a child opens before it is let go.
    static constexpr int TracksPerChild = 50;
    // A child whose file was closed waits this long for the next one, then
    // is let go (on the caller's event loop).
    static constexpr int ClosedChildWaitMs = 5000;
    QTimer letGoClosed_;

    TWorkerChannel channel_;
    // Files opened by the child so far.
    int tracks_ = 0;
    QByteArray path_;
    // Where pictures go, for each file's child, and the size the open
    // file's fill there, for a child that takes it over.
    quintptr videoWindow_ = 0;
    QSize videoWindowSize_;
    bool open_ = false;
    bool broken_ = false;
    // The child broke off by saying nothing in time.
    bool silent_ = false;
    // How long an open may take; 0: the media device's own limit.
    int openLimitMs_ = 0;
    // The child has loaded and waits for files.
    bool ready_ = false;
    State state_;
    // The last state came in a report of a track that sounds, whose
    // position runs on with the clock until the next report.
    bool running_ = false;
    std::chrono::steady_clock::time_point heard_;
    // A playing track whose position has not moved for this long has stopped.
    static constexpr int StandingStillLimitMs = 5000;
    qint64 stillAt_ = -1;
    std::chrono::steady_clock::time_point stillSince_;
};
