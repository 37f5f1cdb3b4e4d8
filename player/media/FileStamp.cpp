#include "player/media/FileStamp.h"

#include <sys/stat.h>

std::array<qint64, 5> FileStamp(const QByteArray& path) {
    struct stat st {};
    if (::stat(path.constData(), &st) != 0)
        return {};
    return {qint64(st.st_dev), qint64(st.st_ino), qint64(st.st_size), qint64(st.st_mtim.tv_sec),
            qint64(st.st_mtim.tv_nsec)};
}

bool TStampCache::Knows(const QByteArray& path) const {
    const auto known = known_.find(path);
    return known != known_.end() && known->second[1] != 0 && known->second == FileStamp(path);
}

void TStampCache::Remember(const QByteArray& path) {
    // A session touches far fewer files; the bound only keeps a pathological
    // one from growing without end.
    if (known_.size() >= 100000)
        known_.clear();
    known_[path] = FileStamp(path);
}
