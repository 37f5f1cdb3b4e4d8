// Playlist files and adding media: the "&List" and "&Add" commands, drops.

#include "playlist/Unit2.h"

#include "playlist/Playlist.h"

void TForm2::Newlist1Click() {
    ClearEntries();
    UpdateCaption();
}
void TForm2::Savelist1Click() {}
void TForm2::LoadList1Click() {}
void TForm2::Addtolist1Click() {}
void TForm2::AppendListFile() {}
void TForm2::SaveAutomaticPlaylist() {}
void TForm2::AddFiles1Click() {}
void TForm2::AddFolder1Click() {}
void TForm2::IncludeSubfolder1Click() { IncludeSubfolder1->setChecked(!IncludeSubfolder1->isChecked()); }
void TForm2::HandleDroppedFiles(const std::vector<QByteArray>&) {}
