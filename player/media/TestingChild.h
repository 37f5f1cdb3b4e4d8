#pragma once

#include <QByteArray>
#include <QString>

class TMediaPlayer;

// The testing worker's side of TFileTester, and what the two say over their
// TWorkerChannel: a request is TestRequest and the path; an answer is
// TestAnswer, whether the file opens, and why not.

inline const QByteArray TestRequest = QByteArrayLiteral("t");

// One try, as the player would open the file; the file is let go at once.
// Returns why it does not open, or nothing.
QString TryToOpen(TMediaPlayer& player, const QByteArray& path);

// False when the frame is no answer.
bool ReadTestAnswer(const QByteArray& frame, bool& opens, QString& reason);

// Reads requests from input, answers on output, until input ends. A worker
// that has FFmpeg's decoders loaded leaves once no request came for letGoMs.
int RunTestingChild(int input, int output, int letGoMs);
