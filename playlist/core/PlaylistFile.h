#pragma once

#include "playlist/core/PathList.h"

#include <QByteArray>
#include <QByteArrayView>
#include <stdexcept>
#include <sys/types.h>
#include <vector>

// A playlist file that cannot be read or written, with the message the user
// sees: "Cannot open file "<path>". <reason>" or "Cannot create file ...".
class EFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A playlist file larger than any playlist: "Cannot open file ... File too
// large". Nothing of it is read, so a command that meets it changes nothing.
class EFileTooLarge : public EFileError {
public:
    using EFileError::EFileError;
};

// The most a playlist file may hold. A million paths of 200 bytes are 200 MB;
// anything larger is no playlist, and reading it would only fill memory.
constexpr qint64 MaxListFileSize = qint64(256) << 20;

// Playlist files (*.plf): one full path per line, the bytes of each path
// exactly as the file system spells them, no header.

// Whether a playlist file can hold the path: a non-empty path without CR, LF
// or NUL. Such bytes are legal in Linux names (all but NUL), but a playlist
// line cannot carry them, so every way into the playlist refuses them.
bool IsStorablePath(QByteArrayView path);

// Splits the text of a playlist file into its lines. A line ends at CR LF, at
// a CR alone or at an LF alone (so LF CR ends two lines); a last line without
// an end is still a line, a final line end adds no empty line, and a NUL byte
// ends the text. Lines are kept as they are: empty lines and blanks included.
PathList SplitListText(const char* text, size_t size);

// Reads a playlist file by the rules of SplitListText, straight into the
// compact list: the file's text becomes the list's buffer. Throws EFileError
// "Cannot open file ..." when the file cannot be opened or read, or is not a
// regular file (a device or a pipe is never read), and EFileTooLarge past
// MaxListFileSize. When
// `cutShort` is given, it tells whether a NUL byte ended the text before the
// end of the file, so that only part of the file became lines.
PathList ReadListFile(const QByteArray& path, bool* cutShort = nullptr);

// The whole content of a playlist file as it is, NUL bytes included, as the
// text of a list without entries yet: the readers of other formats make
// their entries of it, most of them without a copy. The file is opened,
// refused and limited as ReadListFile does. `holdsNul`, when given, tells
// whether a NUL byte is among the text.
PathList ReadListText(const QByteArray& path, bool* holdsNul = nullptr);

// Writes the lines, each followed by CR LF (an empty list gives an empty
// file). The file is replaced as a whole: the lines go to a new file beside
// it, which is flushed to the disk and then renamed over the old one, so a
// crash or a full disk never leaves a cut-off playlist in its place. A new
// file gets `mode` (less the umask); a replaced one keeps its own mode.
// A link is followed: the file it points to is replaced. Only a regular file
// that this user may write is replaced; a writable file in a folder where no
// new name can be made is rewritten in place.
// Throws EFileError "Cannot create file ..." and leaves the old file as it was.
void SaveListFile(const QByteArray& path, const PathList& lines, mode_t mode = 0666);

// Writes the bytes as the content of the file, by the same rules of
// replacing as SaveListFile: for playlists in other formats.
void SaveListBytes(const QByteArray& path, QByteArrayView bytes, mode_t mode = 0666);

// Copies a regular file byte for byte, by the same rules of replacing as
// SaveListFile. Throws EFileError "Cannot open file ..." when `from` cannot
// be read, "Cannot create file ..." when `to` cannot be written.
void CopyListFile(const QByteArray& from, const QByteArray& to, mode_t mode = 0600);
