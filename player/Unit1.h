#pragma once

#include "windows/LazyFileDialog.h"

#include <QAction>
#include <QWidget>
#include <memory>

class QComboBox;
class QFileDialog;
class QLabel;
class QProgressBar;
class QScrollBar;
class QTimer;
class TForm2;
class TForm5;
class TFileTester;
class TMediaPlayer;
class TPanel;
class TSeekBar;
class TSpeedButton;
class TVideoWindow;
class SoundServerVolume;

// Where a click x pixels into a seek bar of barWidth pixels seeks to: the
// track spread over the bar, its first pixel the start and its last pixel
// the end, cut to whole milliseconds.
qint64 SeekPosition(qint64 mediaLength, int barWidth, int x);

// The main window: the player. It owns the media device MP and keeps the
// playback state in its controls:
//   Timer1 running   - a track is loaded and followed (playing or paused),
//   Timer2 running   - the title scrolls: a track plays and is not paused,
// and whether the track is paused in a flag of its own, which Panel1 shows
// as "Paused" (a file may be named so, too).
class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // The windows this one works with: the playlist window, set by the
    // program entry, and the alarm window, built on the first press of its
    // button unless one was set here before.
    TForm2* Form2 = nullptr;
    TForm5* Form5 = nullptr;

    // --- controls ---
    QLabel* Image1 = nullptr;
    TPanel* Panel2 = nullptr;
    TPanel* Panel1 = nullptr;
    TSpeedButton* SpeedButton5 = nullptr;
    QComboBox* PlayOrder = nullptr;
    QScrollBar* ScrollBar1 = nullptr;
    TPanel* Panel3 = nullptr;
    TPanel* Panel6 = nullptr;
    TSeekBar* Bar = nullptr;
    TSpeedButton* Prev = nullptr;
    TSpeedButton* Play = nullptr;
    TSpeedButton* SpeedButton2 = nullptr;
    TSpeedButton* SpeedButton1 = nullptr;
    TSpeedButton* Next = nullptr;
    TSpeedButton* Open = nullptr;
    TSpeedButton* SpeedButton3 = nullptr;
    TSpeedButton* SpeedButton6 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    TSpeedButton* SpeedButton4 = nullptr;
    TMediaPlayer* MP = nullptr;
    // Where MP draws the pictures of a video.
    TVideoWindow* VideoWindow = nullptr;
    // Tries a file before MP opens it, in a process of its own.
    TFileTester* Tester = nullptr;
    TLazyFileDialog OD; // built on first use
    QTimer* Timer1 = nullptr;
    QTimer* Timer2 = nullptr;

    // The hidden shortcut menu "TheShorCut", in menu order.
    QAction* Vol1 = nullptr;
    QAction* Volmin1 = nullptr;
    QAction* Next1 = nullptr;
    QAction* Prev1 = nullptr;
    QAction* Pause1 = nullptr;
    QAction* Open1 = nullptr;
    QAction* OpenFolder1 = nullptr;
    QAction* Pos1 = nullptr;
    QAction* Stop1 = nullptr;
    QAction* Play1 = nullptr;
    QAction* PosMin1 = nullptr;
    QAction* PlayShuffle1 = nullptr;
    QAction* Shuffle1 = nullptr;
    QAction* Repeat1 = nullptr;
    QAction* Continuous1 = nullptr;
    QAction* OnTop1 = nullptr;
    QAction* PlayListShow1 = nullptr;
    QList<QAction*> TheShortCut; // the items above, in menu order

    // The text the marquee shows and scrolls.
    QString MarqueeText;

    // --- playback state, read from the controls ---
    bool isLoaded() const;
    bool isPlaying() const;
    bool isPaused() const;

    // --- playback controller ---
    void PlayCurrentEntry();
    void SelectNextEntry();
    void SelectPreviousEntry();
    void PlayRandomEntry();
    void ReplayCurrentEntry();
    void TrackChangeDelay();
    void UpdateTimePanels();
    void ToggleTimeMode();

    // --- playback fallbacks ---
    void OfferFilesOnEmptyPlay();
    void RecoverFromFailedOpen();
    void RecoverFromFailedTick();
    // Opens and starts the current entry; false when that failed.
    bool StartCurrentEntry();
    // Playback has ended with nothing to follow: timers off, idle texts.
    void ShowIdle(const QString& text);
    // A track has just started: the bar and the time panels at its start.
    void ShowTrackStart();
    // Goes on from the bar's place after a pause.
    void Resume();

    // The open-file dialog with the media filter; appends what is chosen.
    void AddFilesByDialog();

    // --- commands and handlers ---
    void PlayClick();
    void SpeedButton2Click(); // Pause
    void SpeedButton1Click(); // Stop
    void NextClick();
    void PrevClick();
    void PlayShuffle1Click();
    void Pos1Click();
    void PosMin1Click();
    void Continuous1Click();
    void Shuffle1Click();
    void Repeat1Click();
    void Vol1Click();
    void Volmin1Click();
    void OpenClick();
    void OpenFolder1Click();
    void Timer1Timer();
    void Timer2Timer();
    void Panel2Click();
    void Panel2MouseMove();
    void Panel1MouseMove();
    void Panel3Click();
    void Panel3MouseMove();
    void BarMouseDown(Qt::MouseButton button, int x);
    void BarMouseMove();
    void SpeedButton3Click(); // show/hide the playlist window
    void SpeedButton5Click(); // show/hide the alarm window
    void SpeedButton6Click(); // CD door
    void SpeedButton4Click(); // connection state
    void ScrollBar1Change(int position);

    // --- system volume: the output of the sound server, as a level 0..255 ---
    void SetWaveVolume(int level);
    void SetMidiVolume(int level);
    int GetWaveVolume();

    // The play order as the item index of PlayOrder: 0 Con, 1 Shu, 2 Rep.
    int PlayOrderIndex() const;

signals:
    // Sent where the handlers change what the desktop's controls show, so
    // that they follow the player without asking it (PlayerControl passes
    // these on).
    void playbackStateChanged();
    void trackChanged();
    void positionJumped(qint64 ms);
    void volumeChanged(int level);
    void playOrderChanged(int index);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void CreateControls();
    void AssignShortcuts();
    void SetApplicationTitle(const QString& title);
    int RandomIndex(int count);

    void ShowSystemVolume();
    void ShowServerVolume(int level);

    std::unique_ptr<SoundServerVolume> mixer_;
    std::unique_ptr<TForm5> alarmWindow_;
    // Set while the bar is moved to the server's volume, which must not be
    // written back.
    bool showingServerVolume_ = false;
    // When the last write of the volume ended (steady clock, ns).
    qint64 lastWriteEnded_ = 0;
    bool paused_ = false;
};
