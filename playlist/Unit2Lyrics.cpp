// The lyric view lirik, which lies over the playlist while it is shown.

#include "playlist/Unit2.h"

void TForm2::Lyric1Click() {}
void TForm2::LoadLyrics(const QByteArray&) {}
void TForm2::Reload1Click() {}
void TForm2::Copy1Click() {}
void TForm2::Edit1Click() {}
void TForm2::Help1Click() {}
void TForm2::Closelyricwindow1Click() {}
