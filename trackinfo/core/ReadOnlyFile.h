#pragma once

#include <QByteArray>
#include <stdexcept>

// A file that cannot be opened or read, such as
// Cannot open file "/music/a.mp3". No such file or directory
class EFOpenError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A regular file opened for reading by its path's bytes, closed again when
// the object goes, on every path out of the code that holds it.
//
// Only plain read access is asked for: no lock is taken, so reading a tag or
// a lyric file never keeps another program (or our own media device) from
// the file, and a lock held elsewhere never hides a file from the user.
// Names that are not valid UTF-8 reach the file system unchanged.
class ReadOnlyFile {
public:
    explicit ReadOnlyFile(const QByteArray& path); // throws EFOpenError
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    qint64 Size() const { return size_; }

    // Up to `count` bytes from `offset`; fewer only where the file ends
    // (it may have shrunk since it was opened). Throws EFOpenError when the
    // file cannot be read.
    QByteArray ReadAt(qint64 offset, qint64 count) const;

private:
    QByteArray path_;
    int fd_ = -1;
    qint64 size_ = 0;
};
