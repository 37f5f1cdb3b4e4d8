// Track information from the playlist window: the lyric view lirik, which
// lies over the list while it is shown, the file info and the about windows.

#include "playlist/Unit2.h"

void TForm2::Lyric1Click() {}
void TForm2::LoadLyrics(const QByteArray&) {}
void TForm2::Reload1Click() {}
void TForm2::Copy1Click() {}
void TForm2::Edit1Click() {}
void TForm2::Help1Click() {}
void TForm2::Closelyricwindow1Click() {}
void TForm2::About1Click() {}
void TForm2::Viewfileinfo1Click() {}
