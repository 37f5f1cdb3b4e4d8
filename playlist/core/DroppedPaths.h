#pragma once

#include <QByteArray>
#include <QList>
#include <QUrl>
#include <vector>

// The local paths named by the URLs of a drop, in their order, each as the
// bytes of the path: the URL's encoded path percent-decoded straight to
// bytes, never through QString, so that a name that is not valid UTF-8
// arrives as the file system spells it. URLs that name no local file are
// left out, and so are paths no playlist line can hold (IsStorablePath): a
// URL may encode CR, LF or NUL, which no file name of a drop can contain.
std::vector<QByteArray> DroppedPaths(const QList<QUrl>& urls);
