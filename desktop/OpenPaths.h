#pragma once

#include <QByteArrayList>

class TForm1;

// Files handed to the player from outside its windows: the command line, a
// second copy started in the same session, the desktop's media controls.
//
// Media files are added as a drop adds them; folders are searched as "Add
// Folder" searches them (into subfolders when "Include Subfolder" is
// checked); a .plf playlist adds its entries as "Add to List" does; names a
// playlist cannot hold are skipped. Then the first of the new entries plays.
// Nothing added, nothing started.
void OpenPaths(TForm1& form1, const QByteArrayList& paths);

// Brings the main window to the front, as a second start of the program
// should; the playlist window stays as the user left it.
void RaiseMainWindow(TForm1& form1);
