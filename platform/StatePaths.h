#pragma once

#include <QByteArray>

// Where the program keeps what it carries from one run to the next, by the
// XDG base directory rules: $XDG_STATE_HOME/tolvane, or
// ~/.local/state/tolvane when XDG_STATE_HOME is unset, empty or relative.
// Paths are bytes, as the environment gives them.
QByteArray StateFolder();

// The automatic playlist: the playlist as it was when the program last ended.
QByteArray AutomaticPlaylistPath();

// Creates the folder and any missing parents, each new one readable by the
// user alone (0700). Folders that exist already are left as they are.
// Returns 0 or the error that stopped it.
int MakePrivateFolder(const QByteArray& folder);
