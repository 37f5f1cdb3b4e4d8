#include "playlist/core/DroppedPaths.h"

#include "playlist/core/PlaylistFile.h"

std::vector<QByteArray> DroppedPaths(const QList<QUrl>& urls) {
    std::vector<QByteArray> paths;
    for (const QUrl& url : urls) {
        if (!url.isLocalFile())
            continue;
        QByteArray path = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
        if (IsStorablePath(path))
            paths.push_back(std::move(path));
    }
    return paths;
}
