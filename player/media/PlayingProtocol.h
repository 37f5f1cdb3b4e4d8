#pragma once

#include "player/media/PlayingWorker.h"

#include <QDataStream>
#include <QIODevice>

// What the player and its playing child say to each other over their
// TWorkerChannel: a command byte and its argument one way; an answer to each
// command (the error the child's device raised, then its state), or a report
// of the state, the other way.
namespace PlayingProtocol {

// The path, and the native window pictures go to (a quint64, 0 for none).
constexpr char OpenCommand = 'o';
constexpr char PlayCommand = 'p';
constexpr char PauseCommand = 'a';
constexpr char StopCommand = 's';
constexpr char SeekCommand = 'k';
// The open file's stream title and artist, as two strings.
constexpr char StreamTitleCommand = 'n';
// The native window the open file's pictures go to and the size they fill
// there (a quint64 and two qint32).
constexpr char VideoWindowCommand = 'w';
// The open file's window was exposed: its picture is drawn again.
constexpr char RedrawCommand = 'r';
// Closes the open file; the child waits for the next one.
constexpr char CloseCommand = 'c';

// Commands that leave the play as it is: a track that runs runs on through
// them, and one that starts is watched as closely as before.
constexpr bool LeavesPlay(char command) {
    return command == StreamTitleCommand || command == VideoWindowCommand ||
           command == RedrawCommand;
}

constexpr char Answer = 'A';
constexpr char Report = 'R';
// Once, when the child has loaded and waits for its first command.
constexpr char Ready = 'Y';

inline QByteArray Message(char kind, const QString* error, const TPlayingWorker::State& state) {
    QByteArray body(1, kind);
    QDataStream out(&body, QIODevice::WriteOnly | QIODevice::Append);
    if (error)
        out << *error;
    out << state.open << quint8(state.mode) << state.position << state.length << state.lastError
        << state.ffmpeg << state.spent << qint32(state.videoSize.width())
        << qint32(state.videoSize.height()) << state.at;
    return body;
}

// Reads an answer or a report into state (and the answer's error).
inline void Read(const QByteArray& body, TPlayingWorker::State& state, QString* error) {
    QDataStream in(body.mid(1));
    QString raised;
    if (body.startsWith(Answer))
        in >> raised;
    quint8 mode = 0;
    qint32 videoWidth = 0, videoHeight = 0;
    in >> state.open >> mode >> state.position >> state.length >> state.lastError >> state.ffmpeg >>
        state.spent >> videoWidth >> videoHeight >> state.at;
    state.mode = TMPModes(mode);
    state.videoSize = QSize(videoWidth, videoHeight);
    if (error)
        *error = raised;
}

} // namespace PlayingProtocol
