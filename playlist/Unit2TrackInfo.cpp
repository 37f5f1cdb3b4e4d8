// Track information from the playlist window: the lyric view lirik, which
// lies over the list while it is shown, the file info and the about windows.

#include "platform/DesktopServices.h"
#include "player/Unit1.h"
#include "player/media/MediaPlayer.h"
#include "playlist/ListBox.h"
#include "playlist/Unit2.h"
#include "playlist/core/Lyrics.h"
#include "playlist/core/Playlist.h"
#include "trackinfo/Unit4.h"
#include "windows/MessageBox.h"
#include "windows/Unit3.h"

#include <QGroupBox>
#include <QTextCursor>
#include <QTextEdit>

void TForm2::Lyric1Click() {
    CreateHiddenControls();
    lirik->raise();
    lirik->setFocusPolicy(Qt::StrongFocus);
    // The progress box of a running scan stays visible over the lyrics.
    GroupBox1->raise();
    RunCommand([this] { LoadLyrics(EntryPath(CurrentIndex())); });
}

void TForm2::LoadLyrics(const QByteArray& path) {
    CreateHiddenControls();
    lirik->clear();
    lirik->setPlainText(LyricViewText(path));
    lirik->moveCursor(QTextCursor::Start);
}

// The lyrics of the loaded file, which need not be the current entry.
void TForm2::Reload1Click() {
    LoadLyrics(Form1->MP->FileName);
}

void TForm2::Copy1Click() {
    CreateHiddenControls();
    // Without a selection the clipboard keeps what it holds.
    lirik->copy();
}

void TForm2::Edit1Click() {
    RunCommand([this] {
        const QByteArray path = EntryPath(CurrentIndex());
        // Without a lyric file an empty editor is started; the user saves the
        // new lyrics under the name Help gives.
        const std::optional<QByteArray> lyricFile = FindLyricFile(path);
        if (!(lyricFile ? OpenFileInTextEditor(*lyricFile) : StartTextEditor()))
            ShowMessage(QStringLiteral("No text editor was found. Install one, or set VISUAL "
                                       "or EDITOR to the one you use."));
    });
}

void TForm2::Help1Click() {
    // Lines are joined by a line feed followed by a carriage return.
    const QString next = QStringLiteral("\n\r");
    ShowMessage(QStringLiteral("To create lyric file, edit your lyric text using notepad, name it "
                               "same with associated music file") +
                next + QStringLiteral("then put it in the same folder"));
    ShowMessage(QStringLiteral("For example:") + next +
                QStringLiteral("The music file is \"C:\\Music\\MyMusic.mp3\"") + next +
                QStringLiteral("The lyric file is \"C:\\Music\\MyMusic.mp3.txt\""));
}

void TForm2::Closelyricwindow1Click() {
    CreateHiddenControls();
    lirik->stackUnder(ListB);
    if (lirik->hasFocus())
        ListB->setFocus();
    lirik->setFocusPolicy(Qt::NoFocus);
}

void TForm2::lirikDblClick() {
    Closelyricwindow1Click();
}

void TForm2::About1Click() {
    TForm3 about(this);
    about.exec();
}

void TForm2::Viewfileinfo1Click() {
    if (EntryCount() == 0)
        return;
    if (Lists->HighlightedRow() == -1)
        SetCurrentIndex(0);
    // Not modal: the player and the playlist stay usable, and every use
    // opens one more window.
    auto* info = new TForm4(this);
    info->show();
}
