// The playback controller: which entry plays, when, and what follows it.

#include "platform/Memory.h"
#include "player/Unit1.h"
#include "player/core/Clock.h"
#include "player/media/FileTester.h"
#include "player/media/MediaPlayer.h"
#include "playlist/Unit2.h"
#include "playlist/core/Playlist.h"
#include "playlist/core/PlaylistFile.h"
#include "windows/Controls.h"
#include "windows/Dialogs.h"
#include "windows/MessageBox.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QProgressBar>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <random>

static const QString PausedText = QStringLiteral("Paused");
static const QString EndText = QStringLiteral("==> Korvu Player <==");
static const QString StoppedText = QStringLiteral("=> Korvu Player <=");
static const QString NoTimeText = QStringLiteral("- - : - -");
// How long the window waits for a file to open in the playing child before
// it hands the file to the tester: well within what a user takes for a
// window that still answers.
constexpr int QuickOpenMs = 400;

// A timer that is already running keeps its rhythm when enabled again.
static void enable(QTimer* timer) {
    if (!timer->isActive())
        timer->start();
}

bool TForm1::isLoaded() const {
    return Timer1->isActive();
}
bool TForm1::isPlaying() const {
    return Timer2->isActive();
}
bool TForm1::isPaused() const {
    return paused_;
}

int TForm1::PlayOrderIndex() const {
    return PlayOrder->currentIndex();
}

void TForm1::PlayCurrentEntry() {
    if (Form2->EntryCount() == 0)
        return;
    if (!StartCurrentEntry())
        RecoverFromFailedOpen();
}

bool TForm1::StartCurrentEntry() {
    try {
        const QByteArray path = Form2->EntryPath(Form2->CurrentIndex());
        MP->FileName = path;
        Form2->Lists->SetSelectedA(Form2->CurrentIndex(), true);
        // A damaged file can hang or crash the process that opens it. The
        // child that plays meets it first, for as long as the window may
        // wait; one it has not opened by then goes to the tester's worker,
        // while the window stays alive, and opens again only if it can.
        if (!MP->OpenMediaWithin(QuickOpenMs)) {
            if (Tester->TestUnlessKnown(path) != TFileTester::Verdict::Opens) {
                // As a failed open would have: the old track does not play on.
                MP->CloseMedia();
                return false;
            }
            // A track change started while the file was tried has come and
            // gone; this one, the older, follows it.
            MP->FileName = path;
            MP->OpenMedia();
        }
        MP->PlayMedia();
        paused_ = false;
        ShowTrackStart();
        // The old track's decoders have just been freed.
        ReturnFreedMemory();
        enable(Timer1);
        MarqueeText = MarqueeTextFor(MP->FileName);
        enable(Timer2);
        emit trackChanged();
        emit playbackStateChanged();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void TForm1::ShowTrackStart() {
    // Until the first tick the bar would still hold the last track's place,
    // and a resume seeks to the bar.
    Bar->setMaximum(int(MP->MediaLength()));
    Bar->setValue(0);
    UpdateTimePanels();
}

void TForm1::SelectNextEntry() {
    const int n = Form2->EntryCount();
    const int i = Form2->CurrentIndex();
    if (n > 0 && i != -1) {
        Form2->SetCurrentIndex(i == n - 1 ? 0 : i + 1);
        return;
    }
    if (i == -1)
        Form2->SetCurrentIndex(0);
}

void TForm1::SelectPreviousEntry() {
    const int n = Form2->EntryCount();
    const int i = Form2->CurrentIndex();
    if (n > 0)
        Form2->SetCurrentIndex(i == 0 ? n - 1 : i - 1);
    if (Form2->CurrentIndex() == -1)
        Form2->SetCurrentIndex(0);
}

int TForm1::RandomIndex(int count) {
    // Seeded afresh on every draw, from a high-resolution clock. Every entry
    // is a candidate, the last one included.
    std::mt19937 generator(
        unsigned(std::chrono::high_resolution_clock::now().time_since_epoch().count()));
    return std::uniform_int_distribution<int>(0, count - 1)(generator);
}

void TForm1::PlayRandomEntry() {
    const int n = Form2->EntryCount();
    if (n == 0)
        return;
    Form2->SetCurrentIndex(RandomIndex(n));
    PlayCurrentEntry();
}

void TForm1::ReplayCurrentEntry() {
    if (Form2->EntryCount() > 0)
        PlayCurrentEntry();
}

void TForm1::TrackChangeDelay() {
    // Counted, not timed: a hundred steps, each one handing control to the
    // event loop so that the windows stay responsive and the bar repaints.
    ProgressBar1->setValue(0);
    int c = 0;
    while (c < 5000000) {
        ++c;
        if (c % 50000 == 0) {
            ProgressBar1->setValue(c / 50000);
            QApplication::processEvents();
        }
    }
}

void TForm1::UpdateTimePanels() {
    QString text;
    if (Form2->TimeMode.isEmpty() || Form2->TimeMode == QLatin1String("counting")) {
        text = ElapsedText(MP->MediaPosition());
    } else {
        try {
            text = RemainingText(MP->MediaLength(), MP->MediaPosition());
        } catch (const std::exception&) {
            return; // both panels keep their old text
        }
    }
    Panel2->setText(text);
    Form2->Panel1->setText(text);
}

void TForm1::ToggleTimeMode() {
    QString& mode = Form2->TimeMode;
    mode = (mode.isEmpty() || mode == QLatin1String("counting")) ? QStringLiteral("elapsed")
                                                                 : QStringLiteral("counting");
}

void TForm1::PlayClick() {
    RunCommand([this] {
        if (isPaused()) {
            Resume();
        } else if (Form2->Lists->HighlightedRow() == -1) {
            Form2->SetCurrentIndex(0);
            PlayCurrentEntry();
        } else {
            TrackChangeDelay();
            PlayCurrentEntry();
        }
    });
    if (Form2->EntryCount() == 0 && !Timer1->isActive())
        OfferFilesOnEmptyPlay();
}

void TForm1::SpeedButton2Click() {
    RunCommand([this] {
        if (Timer1->isActive() && Timer2->isActive()) {
            MP->PauseMedia();
            Timer2->stop();
            paused_ = true;
            Panel1->setText(PausedText);
            emit playbackStateChanged();
        } else if (isPaused()) {
            Resume();
        }
    });
}

void TForm1::Resume() {
    enable(Timer2);
    paused_ = false;
    MP->SeekMedia(Bar->value());
    MP->PlayMedia();
    emit playbackStateChanged();
    // The bar may lag behind the place of the pause by up to a tick.
    emit positionJumped(Bar->value());
}

void TForm1::SpeedButton1Click() {
    if (!Timer1->isActive())
        return;
    RunCommand([this] {
        MP->StopMedia();
        ShowIdle(StoppedText);
    });
}

void TForm1::ShowIdle(const QString& text) {
    Timer1->stop();
    Timer2->stop();
    paused_ = false;
    Panel1->setText(text);
    SetApplicationTitle(windowTitle());
    Bar->setValue(0);
    Panel2->setText(NoTimeText);
    Form2->Panel1->setText(NoTimeText);
    emit playbackStateChanged();
}

void TForm1::NextClick() {
    TrackChangeDelay();
    SelectNextEntry();
    PlayCurrentEntry();
}

void TForm1::PrevClick() {
    TrackChangeDelay();
    SelectPreviousEntry();
    PlayCurrentEntry();
}

void TForm1::PlayShuffle1Click() {
    PlayRandomEntry();
}

void TForm1::Pos1Click() {
    if (!Timer1->isActive())
        return;
    RunCommand([this] {
        const qint64 target = MP->MediaPosition() + 5000;
        MP->SeekMedia(target);
        if (!isPaused())
            MP->PlayMedia();
        emit positionJumped(target);
    });
}

void TForm1::PosMin1Click() {
    if (!Timer1->isActive())
        return;
    RunCommand([this] {
        const qint64 target = MP->MediaPosition() - 5000;
        MP->SeekMedia(target);
        if (!isPaused())
            MP->PlayMedia();
        emit positionJumped(target);
    });
}

void TForm1::Continuous1Click() {
    PlayOrder->setCurrentIndex(0);
}
void TForm1::Shuffle1Click() {
    PlayOrder->setCurrentIndex(1);
}
void TForm1::Repeat1Click() {
    PlayOrder->setCurrentIndex(2);
}

void TForm1::Timer1Timer() {
    try {
        UpdateTimePanels();
        const qint64 length = MP->MediaLength();
        Bar->setMaximum(int(length));
        // A progress bar ignores a value outside its range instead of
        // stopping at the end; a device that reports a position past the
        // length would leave the bar behind and the end of the track unseen.
        Bar->setValue(int(std::clamp<qint64>(MP->MediaPosition(), 0, length)));
        Panel6->setText(QString::number(PercentOf(Bar->value(), Bar->maximum())) +
                        QStringLiteral("%"));
    } catch (const std::exception&) {
        RecoverFromFailedTick();
        // While a scan runs the recovery waits for the first tick after it;
        // until then there is no device to test for the end, and asking
        // would only put up an error box every second.
        if (Form2->isScanning())
            return;
    }
    if (!Timer1->isActive())
        return; // the recovery ended playback
    // A paused track stands still, also when a seek took it to its end: it
    // ends only once it plays on.
    if (isPaused())
        return;
    RunCommand([this] {
        if (Bar->value() != MP->MediaLength())
            return;
        Timer1->stop();
        Timer2->stop();
        paused_ = false;
        Bar->setValue(0);
        Panel1->setText(EndText);
        MP->CloseMedia();
        emit playbackStateChanged();
        switch (PlayOrderIndex()) {
        case 1:
            PlayRandomEntry();
            break;
        case 2:
            ReplayCurrentEntry();
            break;
        default:
            SelectNextEntry();
            PlayCurrentEntry();
            break;
        }
    });
}

void TForm1::AddFilesByDialog() {
    SetDialogFilter(
        OD, QStringLiteral("All supported files|*.mp3;*.wav;*.mid;*.rmi;*.avi;*.mpg;*.mpeg;*.wma|"
                           "Audio module files (*.mp3;*.wav;*.wma)|*.mp3;*.wav;*.wma|"
                           "Midi module files (*.mid;*.rmi)|*.mid;*.rmi|"
                           "Video files (*.avi;*.mpg;*.mpeg)|*.avi;*.mpg;*.mpeg|"
                           "All files (*.*)|*.*"));
    if (auto chosen = ShowOpenDialog(OD)) {
        // A name with a line break in it cannot be kept in a playlist file.
        std::erase_if(*chosen, [](const QByteArray& path) { return !IsStorablePath(path); });
        Form2->Lists->AppendEntries(std::move(*chosen));
        if (Form2->CurrentIndex() == -1)
            Form2->SetCurrentIndex(0);
    }
    Form2->UpdateCaption();
}
