#pragma once

#include <QByteArray>
#include <cstddef>

// Whole reads and writes on a pipe or a socket: they go on through short
// transfers and signals, and fail once the other end has gone.

// A frame as the player and its worker processes exchange them: a 32-bit
// length in the machine's order, then that many bytes.
QByteArray Frame(const QByteArray& body);
bool ReadFully(int fd, void* buffer, size_t size);
// Over a pipe: a worker whose player has gone ends on SIGPIPE.
bool WriteFully(int fd, const QByteArray& data);
// Over a socket, without SIGPIPE: a peer that ended must not take this
// process down with it.
bool SendFully(int fd, const QByteArray& data);
