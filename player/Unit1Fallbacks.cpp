// What the player does when Play meets an empty playlist, when the current
// entry will not open, and when a tick of Timer1 fails. None of it shows a
// message: the playlist is cleaned and playback goes on with what plays.

#include "player/Unit1.h"
#include "player/media/FileTester.h"
#include "player/media/MediaPlayer.h"
#include "playlist/Unit2.h"
#include "playlist/core/Playlist.h"
#include "windows/Controls.h"

#include <QTimer>
#include <algorithm>
#include <vector>

void TForm1::OfferFilesOnEmptyPlay() {
    AddFilesByDialog();
    Form2->RenumberList();
}

// The index in `after` of the first entry that followed entry `failed` of
// `before` and is still there, or -1. The scan only removes entries (and
// entries may be appended meanwhile), so `after` begins with a subsequence
// of `before`: matching the two from the front finds where each survivor
// went.
static int SurvivorAfter(const PathList& before, int failed, const PathList& after) {
    size_t j = 0;
    for (size_t i = 0; i < before.size() && j < after.size(); ++i) {
        if (before[i] != after[j])
            continue;
        if (int(i) > failed)
            return int(j);
        ++j;
    }
    return -1;
}

void TForm1::RecoverFromFailedOpen() {
    Timer1->stop();
    Timer2->stop();
    emit playbackStateChanged();
    // Playback goes on with the first entry after the failed one that the
    // scan keeps; after the last entry comes the first.
    const int failed = Form2->CurrentIndex();
    const PathList before = Form2->Lists->Paths();
    // A track that fails while a scan runs (one ended during "Clear Bad
    // Files") must not start a second scan inside the first: the running
    // scan is about to clean the playlist anyway.
    if (!Form2->isScanning()) {
        Form2->ScanBadFiles();
        Form2->RenumberList();
        Form2->UpdateCaption();
    }
    const int follower = SurvivorAfter(before, failed, Form2->Lists->Paths());
    if (failed == -1 || Form2->EntryCount() == 0)
        SelectNextEntry(); // the first entry, if any
    else
        Form2->SetCurrentIndex(std::max(follower, 0));
    // After one scan everything left should open. Should an entry fail all
    // the same (its file went away meanwhile), try each following entry once
    // rather than scanning again and again; when none starts, stop.
    // A close meanwhile ends the tries: each would start a worker only to
    // leave its file untried.
    bool started = false;
    for (int tries = Form2->EntryCount(); tries > 0 && !started && !Tester->Quitting(); --tries) {
        started = StartCurrentEntry();
        if (!started)
            SelectNextEntry();
    }
    if (!started) {
        ShowIdle(QStringLiteral("=> Korvu Player <="));
        return;
    }
    Panel1->setText(QString::fromUtf8(MP->FileName));
    MarqueeText = PathText(DisplayName(MP->FileName)) + QStringLiteral(" *** ");
}

void TForm1::RecoverFromFailedTick() {
    // The scan assumes it alone changes the lists while it runs; a tick that
    // fails meanwhile is dealt with by the first tick after the scan.
    if (Form2->isScanning())
        return;
    Form2->SetCurrentIndex(Form2->Lists->HighlightedRow());
    Form2->DeleteSelectedEntries();
    Form2->RenumberList();
    Form2->UpdateCaption();
    // With every entry gone there is nothing to play: end playback instead
    // of failing on every tick from now on.
    if (Form2->EntryCount() == 0) {
        ShowIdle(QStringLiteral("=> Korvu Player <="));
        return;
    }
    PlayCurrentEntry();
}
