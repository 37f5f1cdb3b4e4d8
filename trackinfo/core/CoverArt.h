#pragma once

#include <QByteArray>

// The picture the desktop shows for a track (the MPRIS art URL): a picture
// stored in the file itself, else a cover picture lying beside it.

// Embedded pictures are written into this folder, for the desktop can only
// be given a file: $XDG_CACHE_HOME/tolvane, or ~/.cache/tolvane. Empty when
// neither variable names a folder.
QByteArray CoverCacheFolder();

// The cache holds no more than this many pictures and bytes; the pictures
// used longest ago go first.
constexpr int CoverCacheMaxFiles = 64;
constexpr qint64 CoverCacheMaxBytes = 32 * 1024 * 1024;

// The kind of picture the bytes hold, as a file name extension ("jpg",
// "png", "gif", "bmp", "webp"), or empty when they are none of these.
QByteArray PictureExtension(const QByteArray& picture);

// The path of the cache file that holds `picture` in `folder`, named by a
// hash of its bytes so that the same picture is written once, however many
// tracks carry it. The file appears whole or not at all (written aside and
// renamed); the folders made on the way are the user's alone. Empty when the
// bytes are no picture or the file cannot be written.
QByteArray CachedPicturePath(const QByteArray& picture, const QByteArray& folder);

// A picture beside the media file: cover, folder or front (in that order of
// preference), with the extension jpg, jpeg or png, in any case. Empty when
// there is none.
QByteArray PictureBesidePath(const QByteArray& mediaPath);

// The art URL for a track: the embedded picture through the cache when there
// is one, else the picture beside the file; empty when there is neither.
QByteArray CoverArtUrl(const QByteArray& mediaPath, const QByteArray& embeddedPicture,
                       const QByteArray& cacheFolder);

// A file URL that carries the path's bytes, whatever their encoding.
QByteArray FileUrl(const QByteArray& path);
