#pragma once

#include "playlist/core/PathList.h"

#include <QByteArray>
#include <functional>
#include <vector>

// The automatic playlist: read when the program starts, written when it
// ends, in the state folder. It guards the user's list against being lost:
//  - a file that could not be read at start is left as it is at the end;
//  - a file that was read only in part (a NUL byte ended its text) is first
//    kept whole as "PlayList.plf.bak";
//  - a state folder that is not the user's own, or that others may write,
//    is not used, and a link there that someone else made is not followed;
//  - temporary files of a save that was interrupted are removed.
// What the user should know and no message box says goes to `warn`, one
// line at a time (standard error by default).
class AutomaticPlaylist {
public:
    using Warn = std::function<void(const QByteArray& line)>;
    explicit AutomaticPlaylist(QByteArray folder, Warn warn = {});

    QByteArray Path() const { return path_; }

    // The entries of the playlist; none when there is no file yet. Throws
    // EFileError "Cannot open file ..." when the file is there but cannot be
    // read; the file is then kept as it is when the program ends.
    PathList Read();

    // The entries that were read could not all be taken (no memory, say):
    // the file is kept as it is when the program ends.
    void ReadFailed() { unread_ = true; }

    // Writes the entries, unless the file is to be kept (then one line to
    // `warn` says why). Throws EFileError "Cannot create file ..." when the
    // file cannot be written, or the folder is not one to write it in.
    void Save(const PathList& lines);

    // Removes the temporary files that saves of this user left in the folder
    // when they were cut off; those of a save under way stay.
    void RemoveLeftovers();

private:
    // Whether the folder and the file may be used; warns once when not.
    bool safeToUse();

    QByteArray folder_;
    QByteArray path_;
    Warn warn_;
    bool unread_ = false;
    bool warnedUnsafe_ = false;
};
