// What the player does when Play meets an empty playlist, when the current
// entry will not open, and when a tick of Timer1 fails.

#include "player/MediaPlayer.h"
#include "player/Unit1.h"
#include "playlist/Playlist.h"
#include "playlist/Unit2.h"
#include "windows/Controls.h"

#include <QTimer>

void TForm1::OfferFilesOnEmptyPlay() {
    AddFilesByDialog();
    Form2->RenumberList();
}

void TForm1::RecoverFromFailedOpen() {
    Timer1->stop();
    Timer2->stop();
}

void TForm1::RecoverFromFailedTick() {
    Timer1->stop();
    Timer2->stop();
}
