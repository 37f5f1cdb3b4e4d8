// What the player does when Play meets an empty playlist, when the current
// entry will not open, and when a tick of Timer1 fails. None of it shows a
// message: the playlist is cleaned and playback goes on with what plays.

#include "player/MediaPlayer.h"
#include "player/Unit1.h"
#include "playlist/Playlist.h"
#include "playlist/Unit2.h"
#include "windows/Controls.h"

#include <QTimer>
#include <algorithm>

void TForm1::OfferFilesOnEmptyPlay() {
    AddFilesByDialog();
    Form2->RenumberList();
}

void TForm1::RecoverFromFailedOpen() {
    Timer1->stop();
    Timer2->stop();
    // Playback goes on with the entry that followed the failed one, wherever
    // the scan's removals move it: its place is followed through them.
    const int failed = Form2->CurrentIndex();
    int follower = failed + 1;
    // A track that fails while a scan runs (one ended during "Clear Bad
    // Files") must not start a second scan inside the first: the running
    // scan is about to clean the playlist anyway.
    if (!Form2->isScanning()) {
        const QAbstractItemModel* lists = Form2->Lists;
        const auto removed = connect(lists, &QAbstractItemModel::rowsRemoved, this,
                                     [&follower](const QModelIndex&, int first, int last) {
                                         if (first < follower)
                                             follower -= std::min(last, follower - 1) - first + 1;
                                     });
        const auto inserted = connect(lists, &QAbstractItemModel::rowsInserted, this,
                                      [&follower](const QModelIndex&, int first, int last) {
                                          if (first < follower)
                                              follower += last - first + 1;
                                      });
        Form2->ScanBadFiles();
        disconnect(removed);
        disconnect(inserted);
        Form2->RenumberList();
        Form2->UpdateCaption();
    }
    if (failed == -1 || Form2->EntryCount() == 0)
        SelectNextEntry(); // the first entry, if any
    else
        Form2->SetCurrentIndex(follower < Form2->EntryCount() ? follower : 0);
    // After one scan everything left should open. Should an entry fail all
    // the same (its file went away meanwhile), try each following entry once
    // rather than scanning again and again; when none starts, stop.
    bool started = false;
    for (int tries = Form2->EntryCount(); tries > 0 && !started; --tries) {
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
