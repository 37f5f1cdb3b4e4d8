#include "platform/PathNames.h"

#include <QFile>

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
