#pragma once

#include <QByteArray>
#include <array>
#include <map>

// A file's identity and content stamp (device, inode, size, modification
// time): what a verdict on the file was given for. All zero when the file
// cannot be looked up.
std::array<qint64, 5> FileStamp(const QByteArray& path);

// Files known to have passed a worker's test, as they were then: one that
// has not changed since needs no second trip to a worker.
class TStampCache {
public:
    // Whether path passed and has not changed since.
    bool Knows(const QByteArray& path) const;
    void Remember(const QByteArray& path);
    void Forget(const QByteArray& path) { known_.erase(path); }

private:
    std::map<QByteArray, std::array<qint64, 5>> known_;
};
