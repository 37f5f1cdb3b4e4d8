#pragma once

#include <QByteArray>
#include <cstddef>

// What the player and its worker processes say to each other: frames of a
// 32-bit length in the machine's order followed by that many bytes, over a
// pipe or a socket. Reads and writes go on through short transfers and
// signals; they fail once the other end has gone.

QByteArray Frame(const QByteArray& body);
bool ReadFully(int fd, void* buffer, size_t size);
// Over a pipe: a worker whose player has gone ends on SIGPIPE.
bool WriteFully(int fd, const QByteArray& data);
// Over a socket, without SIGPIPE: a child that died must not take the player
// down with it.
bool SendFully(int fd, const QByteArray& data);
