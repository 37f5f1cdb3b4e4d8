// Selecting and editing the playlist: the "&Clear" and "&Sel" commands,
// shuffling, the keys and mouse of ListB.

#include "playlist/Unit2.h"

#include "player/Unit1.h"
#include "playlist/Playlist.h"

void TForm2::Clearplaylist1Click() {}
void TForm2::Clearselected1Click() {}
void TForm2::Crop1Click() {}
void TForm2::SelectAll1Click() {}
void TForm2::DeselectAll2Click() {}
void TForm2::InvertSelection1Click() {}
void TForm2::InvertSelection() {}
void TForm2::Shufflelist1Click() {}
void TForm2::DeleteSelectedEntries() { Lists->DeleteSelectedEntries(); }
void TForm2::ListBClick() { SetCurrentIndex(Lists->HighlightedRow()); }
void TForm2::ListBKeyDown(int key, Qt::KeyboardModifiers) {
    SetCurrentIndex(Lists->HighlightedRow());
    if (key == Qt::Key_Return || key == Qt::Key_Enter)
        Form1->PlayCurrentEntry();
}
void TForm2::ListBKeyUp(int, Qt::KeyboardModifiers) {}
void TForm2::ListBMouseDown(Qt::MouseButton) {}
void TForm2::ListBMouseUp(Qt::MouseButton) {}
