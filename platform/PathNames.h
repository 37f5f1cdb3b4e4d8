#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// The file-name part of a path: what follows its last "/".
QByteArray DisplayName(const QByteArray& path);

// Paths are kept as the bytes the file system uses; these turn them into text
// for the screen and back. Names that are not valid UTF-8 show replacement
// characters but are never changed on their way through the playlist.
QString PathText(const QByteArray& path);
QByteArray PathBytes(const QString& text);

// The full path of `path` read from `folder` (unless it is full already),
// with "." and ".." taken out as a shell reads them, without looking at the
// disk: "../Other/a.mp3" from "/music/Album" is "/music/Other/a.mp3".
QByteArray AbsolutePath(QByteArrayView path, QByteArrayView folder);
