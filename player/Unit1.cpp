// The main window: its layout and looks, the shortcut menu, the marquee, the
// hints, the seek bar, the show/hide buttons, the CD door, the connection
// state and the system volume.

#include "player/Unit1.h"

#include "platform/CdDoor.h"
#include "platform/Connection.h"
#include "platform/DesktopServices.h"
#include "platform/SoundServerVolume.h"
#include "player/core/Clock.h"
#include "player/core/Volume.h"
#include "player/media/FileTester.h"
#include "player/media/MediaPlayer.h"
#include "playlist/Unit2.h"
#include "playlist/core/Playlist.h"
#include "windows/Accessibility.h"
#include "windows/Controls.h"
#include "windows/MessageBox.h"
#include "windows/Unit5.h"
#include "windows/VideoWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QProgressBar>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <chrono>

namespace {
const QColor& PanelGround = DataGround;
const QColor& PanelText = DataText;
const QColor WindowGround(0, 255, 115);
} // namespace

qint64 SeekPosition(qint64 mediaLength, int barWidth, int x) {
    if (barWidth < 2)
        return 0;
    const qint64 p = qint64(double(mediaLength) / double(barWidth - 1) * x);
    return std::clamp<qint64>(p, 0, mediaLength);
}

TForm1::TForm1(QWidget* parent) : QWidget(parent), mixer_(std::make_unique<SoundServerVolume>()) {
    setWindowTitle(QStringLiteral("Tolvane"));
    CreateControls();
    DescribeForScreenReaders(*this);
    FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::CreateControls() {
    // A small tool of fixed size: a frame that cannot be resized, a system
    // menu and a minimise box, no maximise box.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(283, 111);
    move(227, 205);
    // The application's icon when the program has set it: the same picture,
    // and decoding it again would only cost time.
    const QIcon shared = QApplication::windowIcon();
    setWindowIcon(shared.isNull() ? QIcon(DesignPicture(QStringLiteral(":/icon.png"))) : shared);
    setFont(DesignFont(QStringLiteral("MS Sans Serif")));
    QPalette ground = palette();
    ground.setColor(QPalette::Window, WindowGround);
    setPalette(ground);
    setAutoFillBackground(true);

    Image1 = new QLabel(this);
    Image1->setGeometry(0, 0, 283, 111);
    Image1->setScaledContents(true);
    Image1->setPixmap(DesignPicture(QStringLiteral(":/background.jpg")));

    auto panel = [this](int x, int y, int w, int h, const QString& text, const QFont& font) {
        auto* p = new TPanel(this);
        p->setGeometry(x, y, w, h);
        p->setText(text);
        p->setColors(PanelGround, PanelText);
        p->setBevels(TBevel::Raised, TBevel::Lowered);
        p->setFont(font);
        return p;
    };
    auto button = [this](int x, int y, int w, int h, const QString& text, const QString& hint,
                         const QString& glyph) {
        auto* b = new TSpeedButton(this);
        b->setGeometry(x, y, w, h);
        b->setText(text);
        b->setToolTip(hint);
        const QString picture = QStringLiteral(":/%1.png").arg(glyph);
        const QString disabled = QStringLiteral(":/%1_disabled.png").arg(glyph);
        b->setGlyph(DesignPicture(picture),
                    QFile::exists(disabled) ? DesignPicture(disabled) : QPixmap());
        return b;
    };
    const QFont sansSerif = DesignFont(QStringLiteral("MS Sans Serif"));
    const QFont sansSerifFixed = DesignFont(QStringLiteral("MS Sans Serif"), 11, true);

    Panel2 = panel(4, 3, 53, 21, QStringLiteral("- - : - -"),
                   DesignFont(QStringLiteral("Microsoft Sans Serif")));
    Panel1 = panel(64, 3, 154, 21, QString(), DesignFont(QStringLiteral("Modern"), 11, true));
    SpeedButton5 = button(218, 3, 62, 22, QStringLiteral("&Alarm"), QStringLiteral("Alarm you use"),
                          QStringLiteral("alarm"));

    auto* playOrder = new TComboBox(this);
    playOrder->setGeometry(4, 27, 53, 19);
    playOrder->setColors(PanelGround, PanelText);
    playOrder->setFont(sansSerif);
    playOrder->setItemHeight(13);
    playOrder->autoDropDown = true;
    playOrder->setToolTip(QStringLiteral("Play order"));
    PlayOrder = playOrder;

    ScrollBar1 = new TScrollBar(Qt::Horizontal, this);
    ScrollBar1->setGeometry(64, 31, 152, 9);
    ScrollBar1->setRange(MinVolumeLevel, MaxVolumeLevel);
    // No page: a click beside the thumb moves it by one, as an arrow does.
    ScrollBar1->setSingleStep(1);
    ScrollBar1->setPageStep(1);
    ScrollBar1->setToolTip(QStringLiteral("Vol. control"));
    ScrollBar1->setFocusPolicy(Qt::NoFocus);

    Panel3 = panel(220, 25, 61, 16, QStringLiteral("0%"), sansSerifFixed);
    Panel6 = panel(220, 40, 61, 16, QStringLiteral("0%"), sansSerifFixed);
    Panel6->setToolTip(QStringLiteral("Step"));
    Bar = new TSeekBar(this);
    Bar->setGeometry(4, 47, 213, 8);

    Prev = button(4, 57, 33, 33, QString(), QStringLiteral("Previous"), QStringLiteral("prev"));
    Play = button(37, 57, 33, 33, QString(), QStringLiteral("Play!"), QStringLiteral("play"));
    SpeedButton2 =
        button(70, 57, 33, 33, QString(), QStringLiteral("Pause"), QStringLiteral("pause"));
    SpeedButton1 =
        button(103, 57, 33, 33, QString(), QStringLiteral("Stop"), QStringLiteral("stop"));
    Next = button(136, 57, 33, 33, QString(), QStringLiteral("Next"), QStringLiteral("next"));
    Open =
        button(174, 57, 29, 33, QString(), QStringLiteral("Open file(s)"), QStringLiteral("open"));
    SpeedButton3 = button(204, 56, 76, 18, QStringLiteral("   &Play List"),
                          QStringLiteral("Show/hide play list"), QStringLiteral("playlist"));
    SpeedButton6 = button(205, 75, 75, 16, QStringLiteral("       &Eject"),
                          QStringLiteral("Open Eject"), QStringLiteral("eject"));

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setGeometry(6, 90, 195, 16);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setToolTip(QStringLiteral("This the process"));
    ProgressBar1->setStyleSheet(QStringLiteral(
        "QProgressBar { background: rgb(222, 252, 196); border: 1px solid rgb(74, 70, 70); }"
        "QProgressBar::chunk { background: rgb(30, 140, 60); width: 5px; margin: 1px; }"));

    SpeedButton4 = button(208, 92, 71, 15, QStringLiteral("&Webpage"),
                          QStringLiteral("This the web page"), QStringLiteral("webpage"));

    MP = new TMediaPlayer(this);
    VideoWindow = new TVideoWindow(MP, this);
    Tester = new TFileTester(this);
    OD = TLazyFileDialog(this, [](QFileDialog* dialog) {
        dialog->setFileMode(QFileDialog::ExistingFiles);
        dialog->setOption(QFileDialog::ReadOnly, false);
    });

    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    Timer2 = new QTimer(this);
    Timer2->setInterval(200);

    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    connect(Timer2, &QTimer::timeout, this, &TForm1::Timer2Timer);
    connect(Play, &QToolButton::clicked, this, &TForm1::PlayClick);
    connect(SpeedButton2, &QToolButton::clicked, this, &TForm1::SpeedButton2Click);
    connect(SpeedButton1, &QToolButton::clicked, this, &TForm1::SpeedButton1Click);
    connect(Next, &QToolButton::clicked, this, &TForm1::NextClick);
    connect(Prev, &QToolButton::clicked, this, &TForm1::PrevClick);
    connect(Open, &QToolButton::clicked, this, &TForm1::OpenClick);
    connect(SpeedButton3, &QToolButton::clicked, this, &TForm1::SpeedButton3Click);
    connect(SpeedButton5, &QToolButton::clicked, this, &TForm1::SpeedButton5Click);
    connect(SpeedButton6, &QToolButton::clicked, this, &TForm1::SpeedButton6Click);
    connect(SpeedButton4, &QToolButton::clicked, this, &TForm1::SpeedButton4Click);
    connect(Panel2, &TPanel::clicked, this, &TForm1::Panel2Click);
    connect(Panel2, &TPanel::mouseMoved, this, &TForm1::Panel2MouseMove);
    connect(Panel1, &TPanel::mouseMoved, this, &TForm1::Panel1MouseMove);
    connect(Panel3, &TPanel::clicked, this, &TForm1::Panel3Click);
    connect(Panel3, &TPanel::mouseMoved, this, &TForm1::Panel3MouseMove);
    connect(Bar, &TSeekBar::mousePressed, this, &TForm1::BarMouseDown);
    connect(Bar, &TSeekBar::mouseMoved, this, &TForm1::BarMouseMove);
    // valueChanged comes only when the position really changes, as the
    // volume must be written only then.
    connect(ScrollBar1, &QScrollBar::valueChanged, this, &TForm1::ScrollBar1Change);
    connect(PlayOrder, &QComboBox::currentIndexChanged, this, &TForm1::playOrderChanged);
}

void TForm1::FormCreate() {
    AssignShortcuts();
    // The contact text, which is also what a task bar shows until the first
    // track starts.
    const QString contact = QStringLiteral("tolvane@example.org");
    Panel1->setText(contact);
    SetApplicationTitle(contact);
    Bar->setColors(PanelGround, QColor(255, 0, 0));
    PlayOrder->addItems({QStringLiteral("Con"), QStringLiteral("Shu"), QStringLiteral("Rep")});
    PlayOrder->setCurrentIndex(0);

    ShowSystemVolume();
    SetHintLooks(PanelGround, PanelText, 2000);
}

void TForm1::ShowSystemVolume() {
    // The bar starts where the system volume stands and follows it from then
    // on, whoever changes it; only the user's own moves of the bar (or the
    // volume keys) write it.
    // The watch's first reading stands for GetWaveVolume(): one connection
    // to the server at start instead of two.
    auto* watch = new SoundServerWatch(this);
    const auto channels = watch->FirstReading();
    ShowServerVolume(channels ? LevelOfDeviceVolume(DeviceVolume(*channels)) : MinVolumeLevel);
    connect(watch, &SoundServerWatch::volumeChanged, this,
            [this](quint16 left, quint16 right, qint64 askedAt) {
                // A reading asked for before our own last write may show the
                // volume from before it, and would move the bar back.
                if (askedAt < lastWriteEnded_)
                    return;
                ShowServerVolume(LevelOfDeviceVolume(DeviceVolume(ChannelVolumes{left, right})));
            });
}

void TForm1::ShowServerVolume(int level) {
    // While the user drags the thumb, the drag decides.
    if (ScrollBar1->isSliderDown())
        return;
    showingServerVolume_ = true;
    ScrollBar1->setValue(level);
    showingServerVolume_ = false;
    Panel3->setText(VolumePercentText(ScrollBar1->value()));
}

void TForm1::AssignShortcuts() {
    auto item = [this](const QString& caption, const QKeySequence& key, auto handler) {
        auto* a = new QAction(caption, this);
        a->setShortcut(key);
        // Window-wide: the key reaches its item whichever control has the
        // focus, so Up and Down set the volume even inside PlayOrder.
        a->setShortcutContext(Qt::WindowShortcut);
        connect(a, &QAction::triggered, this, handler);
        addAction(a);
        TheShortCut.append(a);
        return a;
    };
    Vol1 = item(QStringLiteral("Vol"), Qt::Key_Up, &TForm1::Vol1Click);
    Volmin1 = item(QStringLiteral("Vol-"), Qt::Key_Down, &TForm1::Volmin1Click);
    Next1 = item(QStringLiteral("Next"), Qt::Key_B, &TForm1::NextClick);
    Prev1 = item(QStringLiteral("Prev"), Qt::Key_Z, &TForm1::PrevClick);
    Pause1 = item(QStringLiteral("Pause"), Qt::Key_C, &TForm1::SpeedButton2Click);
    Open1 = item(QStringLiteral("Open"), Qt::Key_O, &TForm1::OpenClick);
    OpenFolder1 = item(QStringLiteral("OpenFolder"), QKeySequence(Qt::CTRL | Qt::Key_O),
                       &TForm1::OpenFolder1Click);
    Pos1 = item(QStringLiteral("Pos"), Qt::Key_Right, &TForm1::Pos1Click);
    Stop1 = item(QStringLiteral("Stop"), Qt::Key_V, &TForm1::SpeedButton1Click);
    Play1 = item(QStringLiteral("Play"), Qt::Key_X, &TForm1::PlayClick);
    PosMin1 = item(QStringLiteral("PosPlus"), Qt::Key_Left, &TForm1::PosMin1Click);
    PlayShuffle1 = item(QStringLiteral("PlayShuffle"), Qt::Key_N, &TForm1::PlayShuffle1Click);
    Shuffle1 = item(QStringLiteral("Shuffle"), QKeySequence(Qt::SHIFT | Qt::Key_S),
                    &TForm1::Shuffle1Click);
    Repeat1 =
        item(QStringLiteral("Repeat"), QKeySequence(Qt::SHIFT | Qt::Key_R), &TForm1::Repeat1Click);
    Continuous1 = item(QStringLiteral("Continuous"), QKeySequence(Qt::SHIFT | Qt::Key_C),
                       &TForm1::Continuous1Click);
    // T is taken so that it does nothing, rather than reaching the control
    // with the focus.
    OnTop1 = item(QStringLiteral("OnTop"), Qt::Key_T, [] {});
    PlayListShow1 = item(QStringLiteral("PlayListShow"), Qt::Key_L, &TForm1::SpeedButton3Click);
}

void TForm1::SetApplicationTitle(const QString& title) {
    // The text a task bar shows for the program. It is the window's icon
    // text: an application display name would be appended to every window
    // caption, and the main window's caption stays "Tolvane".
    setWindowIconText(title);
}

void TForm1::Timer2Timer() {
    Panel1->setText(MarqueeText);
    SetApplicationTitle(MarqueeText);
    MarqueeText = RotateMarquee(MarqueeText);
}

void TForm1::Panel2Click() {
    ToggleTimeMode();
}

void TForm1::Panel2MouseMove() {
    Panel2->setToolTip(Form2 && Form2->TimeMode == QLatin1String("elapsed")
                           ? QStringLiteral("Time remaining")
                           : QStringLiteral("Time elapsed"));
}

void TForm1::Panel1MouseMove() {
    Panel1->setToolTip(PathText(MP->FileName));
}

void TForm1::Panel3Click() {
    StartVolumeControl();
}

void TForm1::Panel3MouseMove() {
    Panel3->setToolTip(QStringLiteral("Volume\nClick to open vol. control"));
}

void TForm1::BarMouseDown(Qt::MouseButton button, int x) {
    if (button != Qt::LeftButton)
        return;
    try {
        const qint64 length = MP->MediaLength();
        const qint64 p = SeekPosition(length, Bar->width(), x);
        // The bar's range follows the track, so that its hint, the share of
        // the track the bar shows, tells where the click went.
        Bar->setMaximum(int(length));
        Bar->setValue(int(p));
        MP->SeekMedia(p);
        if (!isPaused())
            MP->PlayMedia();
        emit positionJumped(p);
        if (!Timer1->isActive()) { // enabled, not restarted: the tick keeps its rhythm
            Timer1->start();
            emit playbackStateChanged();
        }
    } catch (const std::exception&) {
        // No device open: a click on the bar does nothing.
    }
}

void TForm1::BarMouseMove() {
    // An empty bar (a length of 0) has played nothing yet.
    const int percent = Bar->maximum() > 0 ? int(double(Bar->value()) / Bar->maximum() * 100) : 0;
    Bar->setToolTip(QStringLiteral("Step: %1%").arg(percent));
}

void TForm1::SpeedButton3Click() {
    if (!Form2)
        return;
    if (SpeedButton3->isStruckOut()) {
        SpeedButton3->setStruckOut(false);
        Form2->show();
    } else {
        SpeedButton3->setStruckOut(true);
        Form2->close();
    }
}

void TForm1::SpeedButton5Click() {
    // The alarm window starts hidden, so it is built when first asked for.
    if (!Form5) {
        alarmWindow_ = std::make_unique<TForm5>();
        Form5 = alarmWindow_.get();
    }
    if (SpeedButton5->isStruckOut()) {
        SpeedButton5->setStruckOut(false);
        Form5->show();
    } else {
        SpeedButton5->setStruckOut(true);
        Form5->close();
    }
}

void TForm1::SpeedButton6Click() {
    // Plain at start although the door is normally closed: the first press
    // closes it, the next opens it.
    if (SpeedButton6->isStruckOut()) {
        SpeedButton6->setStruckOut(false);
        SetCdDoor(CdDoorCommand::Open);
    } else {
        SpeedButton6->setStruckOut(true);
        SetCdDoor(CdDoorCommand::Close);
    }
}

void TForm1::SpeedButton4Click() {
    // There is no dial-up connection to bring up here; the answer is all.
    ShowMessage(IsInternetConnected() ? QStringLiteral("Internet is Connected")
                                      : QStringLiteral("Internet is not Connected"));
}

// --- system volume -------------------------------------------------------------

void TForm1::SetWaveVolume(int level) {
    // Write() does nothing when the server has no default output.
    mixer_->Write(ChannelsOf(DeviceVolumeOfLevel(level)));
    lastWriteEnded_ = std::chrono::steady_clock::now().time_since_epoch().count();
}

void TForm1::SetMidiVolume(int) {
    // MIDI is synthesised and played through the same default output as all
    // other sound, which SetWaveVolume has just set; a second write would
    // only cost another round trip to the server.
}

int TForm1::GetWaveVolume() {
    const auto channels = mixer_->Read();
    return channels ? LevelOfDeviceVolume(DeviceVolume(*channels)) : MinVolumeLevel;
}

void TForm1::ScrollBar1Change(int position) {
    if (!showingServerVolume_) {
        SetWaveVolume(position);
        SetMidiVolume(position);
    }
    Panel3->setText(VolumePercentText(position));
    emit volumeChanged(position);
}

void TForm1::Vol1Click() {
    ScrollBar1->setValue(ScrollBar1->value() + 2);
}

void TForm1::Volmin1Click() {
    ScrollBar1->setValue(ScrollBar1->value() - 2);
}

// --- files ---------------------------------------------------------------------

void TForm1::OpenClick() {
    AddFilesByDialog();
    if (Form2) {
        Form2->RenumberList();
        Form2->UpdateCaption();
    }
}

void TForm1::OpenFolder1Click() {
    if (Form2)
        Form2->AddFolder1Click();
}

void TForm1::closeEvent(QCloseEvent* event) {
    // The shortcut items go with the window: the playlist window, which
    // outlives it for a moment, must not start anything on their keys.
    for (QAction* item : std::as_const(TheShortCut))
        item->setEnabled(false);
    Timer1->stop();
    // A running bad-file scan ends before its next entry, so that the
    // program can end and save the playlist.
    if (Form2 && Form2->isScanning())
        Form2->ScanStopRequested = true;
    event->accept();
    QApplication::quit();
}
