// The bad-file scan: every entry that the media device cannot open is removed.

#include "playlist/Unit2.h"

#include "player/media/FileTester.h"
#include "player/media/MediaPlayer.h"
#include "player/Unit1.h"
#include "playlist/ListBox.h"
#include "playlist/core/Playlist.h"
#include "windows/Controls.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QThread>
#include <map>

namespace {
// Painting the window for every entry would cost more than trying most
// files; this often is enough to look alive and smooth.
constexpr int PaintEveryMs = 40;
} // namespace

// While a scan runs it processes window events between entries, yet it
// relies on being the only one to change the lists: the commands that could
// change them are switched off for that time. Appending (Open, Add Folder
// from the main window) stays possible; it does not move untried entries.
void TForm2::SetListCommandsEnabled(bool on) {
    for (QWidget* w : std::initializer_list<QWidget*>{ListB, Add, Rem, SpeedButton1, List})
        w->setEnabled(on);
}

// The main player's own file is tested by opening it there again, once the
// other entries are through. The main window knows nothing of that, so the
// player must come back as it was: at its place, playing on, paused or
// stopped. False when the file no longer opens.
static bool ReopenAsItWas(TMediaPlayer* player) {
    try {
        const TMPModes mode = player->MediaMode();
        const qint64 position = player->MediaPosition();
        player->OpenMedia();
        player->SeekMedia(position);
        if (mode == TMPModes::mpPlaying || mode == TMPModes::mpPaused)
            player->PlayMedia();
        if (mode == TMPModes::mpPaused)
            player->PauseMedia();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void TForm2::ScanBadFiles() {
    if (scanning_)
        return;
    scanning_ = true;
    CreateHiddenControls();
    SetListCommandsEnabled(false);

    QPalette bar = ProgressBar1->palette();
    bar.setColor(QPalette::Highlight, QColor(0, 255, 255));
    ProgressBar1->setPalette(bar);
    ScanStopRequested = false;
    // The files are opened by the tester's worker process: a file that hangs
    // or crashes it costs that file, not the window.
    // Two workers keep two cores busy: most of a broken file's time goes to
    // the type finders, which no single process can make faster.
    const int workers = std::clamp(QThread::idealThreadCount(), 1, 2);
    TestPlayer = new TFileTester(this, workers);
    GroupBox1->show();

    TMediaPlayer* MP = Form1->MP;
    QByteArray mainFile; // the main player's file, when the scan met it
    // The workers are handed the next few entries before their turn, so
    // that none waits for the window; the verdicts are taken in the scan's
    // order, and one never taken (the scan stopped) changes nothing.
    std::map<int, std::pair<QByteArray, int>> asked;
    const auto askAhead = [&](int p) {
        for (int q = p; q >= 0 && q > p - 8 * workers; --q)
            if (!asked.count(q)) {
                const QByteArray path = EntryPath(q);
                asked[q] = {path, TestPlayer->Send(path)};
            }
    };
    QElapsedTimer sincePaint;
    sincePaint.start();
    for (int p = EntryCount() - 1; p >= 0; --p) {
        const bool paint = sincePaint.elapsed() >= PaintEveryMs;
        if (paint)
            sincePaint.restart();
        setUpdatesEnabled(paint);
        const QByteArray path = EntryPath(p);
        Label1->setText(PathText(DisplayName(path)));
        Label1->adjustSize();
        const int n = EntryCount();
        const int pct = 100 - int(double(p) / double(n) * 100.0);
        Label2->setText(QString::number(pct) + QStringLiteral("%"));
        Label2->adjustSize();
        ProgressBar1->setValue(pct);
        askAhead(p);
        QApplication::processEvents();
        if (ScanStopRequested)
            break;
        try {
            // The main player's own file is tried in the worker as well: it
            // may be the very file that has just failed to open there.
            const auto sent = asked.find(p);
            const int ticket = sent != asked.end() && sent->second.first == path
                                   ? sent->second.second
                                   : TestPlayer->Send(path);
            // A file that keeps the scan waiting lets the window paint.
            QElapsedTimer waiting;
            waiting.start();
            const TFileTester::Verdict verdict = TestPlayer->Wait(ticket, [&] {
                if (waiting.elapsed() >= PaintEveryMs)
                    setUpdatesEnabled(true);
                return ScanStopRequested;
            });
            if (verdict == TFileTester::Verdict::Abandoned)
                break; // stopped, or the program is ending
            if (verdict == TFileTester::Verdict::Fails) {
                // The main player is left without a file, as its own
                // failed reopening would have left it.
                if (path == MP->FileName)
                    MP->CloseMedia();
                throw EMCIDeviceError(TestPlayer->LastReason().toStdString());
            }
            // The main player's own file, open there, is opened again once
            // the other entries are through, and comes back as it was.
            if (path == MP->FileName && MP->isOpen())
                mainFile = path;
        } catch (const std::exception&) {
            RemoveEntry(p);
        }
        asked.erase(p);
    }

    setUpdatesEnabled(true);

    // The main player may have gone on to another file meanwhile, which it
    // has just opened and need not open again.
    if (!mainFile.isEmpty() && MP->FileName == mainFile && MP->isOpen() && !ReopenAsItWas(MP))
        for (int p = EntryCount() - 1; p >= 0; --p)
            if (EntryPath(p) == mainFile)
                RemoveEntry(p);

    delete TestPlayer;
    TestPlayer = nullptr;
    GroupBox1->hide();
    SetListCommandsEnabled(true);
    scanning_ = false;
    // Disabling the list sent the focus elsewhere, and Qt does not bring it
    // back: without this the list's keys would do nothing until it is clicked.
    if (isActiveWindow())
        ListB->setFocus();
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

void TForm2::Button1Click() {
    ScanStopRequested = true;
}
