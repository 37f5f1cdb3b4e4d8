#pragma once

#include "player/media/MediaPlayer.h"

#include <QByteArray>
#include <QString>
#include <sys/types.h>

// A media device in a child process (tolvane-tester --play), for the files
// whose decoders the player keeps out of its own process: FFmpeg's library
// tree comes with some 70 MB of code and data that, once mapped, would stay
// in the player for the rest of the session. The child lives only while such
// a file is open, so that its memory really comes back when the file closes;
// another one is kept ready for the next such file (see StartSpare).
//
// Every command waits for the child a bounded time; a child that crashes,
// goes silent or hangs is killed and reaped at once, and the file counts as
// broken off (Broken()), never as a hang.
class TPlayingWorker {
public:
    // What the child's device reports after each command.
    struct State {
        bool open = false;
        TMPModes mode = TMPModes::mpNotReady;
        qint64 position = 0;
        qint64 length = 0;
        QString lastError;
    };

    TPlayingWorker() = default;
    // Ends the child, if any.
    ~TPlayingWorker();
    TPlayingWorker(const TPlayingWorker&) = delete;
    TPlayingWorker& operator=(const TPlayingWorker&) = delete;

    // Starts the child and opens the file there; raises EMCIDeviceError with
    // the reason when it does not open (the child is then gone).
    void Open(const QByteArray& path, int screenWidth, int screenHeight);
    // The device's commands; raise EMCIDeviceError when the child's device
    // raised one.
    void Play();
    void Pause();
    void Stop();
    void Seek(qint64 ms);
    // Asks the child where it stands.
    void Refresh();
    // Closes the file and ends the child.
    void End();

    const State& Now() const { return state_; }
    // The child died or stopped answering while the file was open.
    bool Broken() const { return broken_; }

    // A file plays in this process: the child kept ready for the next file
    // that needs one lets go of FFmpeg's libraries.
    static void LightenSpare();

    // The child's side: carries out the commands read from input, answers
    // on output, until input ends. loadDecoders: loads FFmpeg's decoders
    // before the first command.
    static int Run(int input, int output, bool loadDecoders);

    // The program that hosts the child, among the player's helpers.
    static QByteArray Program();

private:
    bool Start();
    // Sends a command and reads the child's answer within timeoutMs;
    // returns the error the child's device raised. A child that does not
    // answer is killed.
    QString Call(char command, const QByteArray& argument, int timeoutMs);
    void Kill();
    void BreakOff();

    pid_t pid_ = 0;
    int socket_ = -1;
    bool broken_ = false;
    // The child broke off by saying nothing in time.
    bool silent_ = false;
    State state_;
};
