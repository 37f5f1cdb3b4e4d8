#include "platform/PathNames.h"

#include <QFile>
#include <vector>

QByteArray DisplayName(const QByteArray& path) {
    // "\" and ":" are ordinary characters of Linux file names
    // ("Artist: Song.mp3"); only "/" separates folders.
    return path.mid(path.lastIndexOf('/') + 1);
}

QString PathText(const QByteArray& path) {
    return QString::fromUtf8(path);
}

QByteArray PathBytes(const QString& text) {
    return QFile::encodeName(text);
}

QByteArray AbsolutePath(QByteArrayView path, QByteArrayView folder) {
    if (path.startsWith('/'))
        folder = {};
    std::vector<QByteArrayView> parts;
    auto split = [&parts](QByteArrayView path) {
        qsizetype start = 0;
        for (qsizetype i = 0; i <= path.size(); ++i) {
            if (i < path.size() && path[i] != '/')
                continue;
            const QByteArrayView part = path.sliced(start, i - start);
            start = i + 1;
            if (part.isEmpty() || part == ".")
                continue;
            if (part == "..") {
                if (!parts.empty())
                    parts.pop_back();
                continue;
            }
            parts.push_back(part);
        }
    };
    split(folder);
    split(path);
    QByteArray full;
    full.reserve(folder.size() + path.size() + 1);
    for (const QByteArrayView part : parts)
        full.append('/').append(part);
    return full.isEmpty() ? QByteArray("/") : full;
}
