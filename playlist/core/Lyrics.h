#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

// Lyric files: plain text kept next to a media file, named after its full
// path with ".txt" appended (/music/Song.mp3 -> /music/Song.mp3.txt). The
// program only reads them; the user writes them with a text editor.

// The lower-cased form of a path: only the ASCII letters A..Z change, so
// every other byte of the name stays as the file system holds it.
QByteArray AsciiLower(const QByteArray& path);

// Where the lyric file of `mediaPath` is. Lyric files were always found
// whatever the case of their names, and names are case-sensitive here: the
// path as it stands is tried first, then a name in the same folder that
// differs only in case (Song.MP3.TXT beside Song.mp3), then the whole path
// lower-cased. Nothing for an empty path: ".txt" would be looked for in
// whatever folder the program runs in; nothing for a path holding a NUL,
// which names no file.
std::optional<QByteArray> FindLyricFile(const QByteArray& mediaPath);

// A lyric file larger than this shows its beginning only.
constexpr qint64 MaxLyricFileBytes = 1024 * 1024;

// The text of a lyric file's bytes: UTF-8 when they are valid UTF-8 (an
// incomplete character cut off at the end of a truncated read is dropped),
// otherwise Windows-1252, one character per byte.
QString LyricFileText(const QByteArray& bytes, bool truncated = false);

// The lines of a text; a line ends at CR, LF or the pair CR LF. A line break
// at the very end starts no further line.
QStringList SplitLyricLines(const QString& text);

// The three lines shown when a media file has no lyric file: an empty line,
// "Lyric file is not found for" and the lower-cased file name in quotes.
QString LyricNotFoundText(const QByteArray& mediaPath);

// What the lyric view shows for `mediaPath`: an empty line, then the lines
// of its lyric file; or the not-found text when the file cannot be read.
QString LyricViewText(const QByteArray& mediaPath);
