// The bad-file scan: every entry that the media device cannot open is removed.

#include "playlist/Unit2.h"

#include "player/FileTester.h"
#include "player/MediaPlayer.h"
#include "player/Unit1.h"
#include "playlist/ListBox.h"
#include "playlist/Playlist.h"
#include "windows/Controls.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>

// While a scan runs it processes window events between entries, yet it
// relies on being the only one to change the lists: the commands that could
// change them are switched off for that time. Appending (Open, Add Folder
// from the main window) stays possible; it does not move untried entries.
void TForm2::SetListCommandsEnabled(bool on) {
    for (QWidget* w : std::initializer_list<QWidget*>{ListB, Add, Rem, SpeedButton1, List})
        w->setEnabled(on);
}

void TForm2::ScanBadFiles() {
    if (scanning_)
        return;
    scanning_ = true;
    SetListCommandsEnabled(false);

    QPalette bar = ProgressBar1->palette();
    bar.setColor(QPalette::Highlight, QColor(0, 255, 255));
    ProgressBar1->setPalette(bar);
    ScanStopRequested = false;
    // The files are opened by the tester's worker process: a file that hangs
    // or crashes it costs that file, not the window.
    TestPlayer = new TFileTester(this);
    GroupBox1->show();

    TMediaPlayer* MP = Form1->MP;
    const auto stopped = [this] { return ScanStopRequested; };
    for (int p = EntryCount() - 1; p >= 0; --p) {
        const QByteArray path = EntryPath(p);
        Label1->setText(PathText(DisplayName(path)));
        Label1->adjustSize();
        const int n = EntryCount();
        const int pct = 100 - int(double(p) / double(n) * 100.0);
        Label2->setText(QString::number(pct) + QStringLiteral("%"));
        Label2->adjustSize();
        ProgressBar1->setValue(pct);
        // The worker starts on the file while the window repaints; should
        // the scan stop now, its verdict is never asked for and the entry
        // stays as if untried.
        const int ticket = path != MP->FileName ? TestPlayer->Send(path) : 0;
        QApplication::processEvents();
        if (ScanStopRequested)
            break;
        try {
            if (path != MP->FileName) {
                const int asked = ticket ? ticket : TestPlayer->Send(path);
                const TFileTester::Verdict verdict = TestPlayer->Wait(asked, stopped);
                if (verdict == TFileTester::Verdict::Abandoned)
                    break; // stopped, or the program is ending
                if (verdict == TFileTester::Verdict::Fails)
                    throw EMCIDeviceError(TestPlayer->LastReason().toStdString());
            } else {
                // The main player's own file is reopened there and goes on
                // from where it was, whatever the main window shows.
                const qint64 pos = MP->MediaPosition();
                MP->OpenMedia();
                MP->SeekMedia(pos);
                MP->PlayMedia();
            }
        } catch (const std::exception&) {
            RemoveEntry(p);
        }
    }

    delete TestPlayer;
    TestPlayer = nullptr;
    GroupBox1->hide();
    SetListCommandsEnabled(true);
    scanning_ = false;
}

void TForm2::ClearBadFiles1Click() {
    if (scanning_)
        return;
    try {
        ScanBadFiles();
        RenumberList();
        UpdateCaption();
        const QByteArray& loaded = Form1->MP->FileName;
        const auto& paths = Lists->Paths();
        for (int i = 0; i < int(paths.size()); ++i)
            if (paths[size_t(i)] == loaded) {
                Lists->SetSelectedB(i, true);
                break;
            }
    } catch (const std::exception&) {
        // A failure after the scan ends the command without a message.
    }
}

void TForm2::Button1Click() { ScanStopRequested = true; }
