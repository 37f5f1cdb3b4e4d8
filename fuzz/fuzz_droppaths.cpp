// Drops: whatever URL list another program offers, only local files come
// out, each the percent-decoding of its URL's path and fit for a playlist
// line; and any storable path, put into a file URL, comes back byte for byte.

#include "FuzzSupport.h"
#include "playlist/core/DroppedPaths.h"
#include "playlist/core/PlaylistFile.h"

#include <QMimeData>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));

    // The bytes as the text/uri-list of a drop, read the way a drop is.
    QMimeData drop;
    drop.setData(QStringLiteral("text/uri-list"), bytes);
    const QList<QUrl> urls = drop.urls();
    const std::vector<QByteArray> paths = DroppedPaths(urls);
    FUZZ_CHECK(paths.size() <= size_t(urls.size()));
    auto url = urls.begin();
    for (const QByteArray& path : paths) {
        FUZZ_CHECK(IsStorablePath(path));
        // Each path is that of a later local URL, in the drop's order.
        while (url != urls.end() &&
               !(url->isLocalFile() &&
                 QByteArray::fromPercentEncoding(url->path(QUrl::FullyEncoded).toLatin1()) == path))
            ++url;
        FUZZ_CHECK(url != urls.end());
        ++url;
    }

    // The bytes as the name of a file, as a file manager puts it in a URL.
    const QByteArray path = '/' + bytes;
    const QUrl local(QString::fromLatin1("file://" + path.toPercentEncoding("/")));
    const std::vector<QByteArray> back = DroppedPaths({local});
    FUZZ_CHECK(back == (IsStorablePath(path) ? std::vector{path} : std::vector<QByteArray>{}));
    return 0;
}
