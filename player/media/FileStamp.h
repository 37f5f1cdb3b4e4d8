#pragma once

#include <QByteArray>
#include <array>

// A file's identity and content stamp (device, inode, size, modification
// time): what a verdict on the file was given for. All zero when the file
// cannot be looked up.
std::array<qint64, 5> FileStamp(const QByteArray& path);
