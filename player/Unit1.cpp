#include "player/Unit1.h"

#include "player/Clock.h"
#include "player/MediaPlayer.h"
#include "playlist/Unit2.h"
#include "windows/Controls.h"
#include "windows/Unit5.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QProgressBar>
#include <QScrollBar>
#include <QTimer>

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
    setWindowTitle(QStringLiteral("Tolvane"));
    CreateControls();
    FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::CreateControls() {
    setFixedSize(283, 111);
    move(227, 205);

    Image1 = new QLabel(this);
    Image1->setGeometry(0, 0, 283, 111);
    Image1->setScaledContents(true);

    auto panel = [this](int x, int y, int w, int h, const QString& text) {
        auto* p = new TPanel(this);
        p->setGeometry(x, y, w, h);
        p->setText(text);
        p->setColors(QColor(74, 70, 70), QColor(0, 255, 0));
        return p;
    };
    auto button = [this](int x, int y, int w, int h, const QString& text, const QString& hint) {
        auto* b = new TSpeedButton(this);
        b->setGeometry(x, y, w, h);
        b->setText(text);
        b->setToolTip(hint);
        return b;
    };

    Panel2 = panel(4, 3, 53, 21, QStringLiteral("- - : - -"));
    Panel1 = panel(64, 3, 154, 21, QString());
    SpeedButton5 = button(218, 3, 62, 22, QStringLiteral("&Alarm"), QStringLiteral("Alarm you use"));
    PlayOrder = new QComboBox(this);
    PlayOrder->setGeometry(4, 27, 53, 19);
    PlayOrder->setToolTip(QStringLiteral("Play order"));
    ScrollBar1 = new QScrollBar(Qt::Horizontal, this);
    ScrollBar1->setGeometry(64, 31, 152, 9);
    ScrollBar1->setRange(0, 255);
    ScrollBar1->setSingleStep(1);
    ScrollBar1->setPageStep(1);
    ScrollBar1->setToolTip(QStringLiteral("Vol. control"));
    ScrollBar1->setFocusPolicy(Qt::NoFocus);
    Panel3 = panel(220, 25, 61, 16, QStringLiteral("0%"));
    Panel6 = panel(220, 40, 61, 16, QStringLiteral("0%"));
    Panel6->setToolTip(QStringLiteral("Step"));
    Bar = new TSeekBar(this);
    Bar->setGeometry(4, 47, 213, 8);
    Prev = button(4, 57, 33, 33, QString(), QStringLiteral("Previous"));
    Play = button(37, 57, 33, 33, QString(), QStringLiteral("Play!"));
    SpeedButton2 = button(70, 57, 33, 33, QString(), QStringLiteral("Pause"));
    SpeedButton1 = button(103, 57, 33, 33, QString(), QStringLiteral("Stop"));
    Next = button(136, 57, 33, 33, QString(), QStringLiteral("Next"));
    Open = button(174, 57, 29, 33, QString(), QStringLiteral("Open file(s)"));
    SpeedButton3 = button(204, 56, 76, 18, QStringLiteral("   &Play List"),
                          QStringLiteral("Show/hide play list"));
    SpeedButton6 = button(205, 75, 75, 16, QStringLiteral("       &Eject"),
                          QStringLiteral("Open Eject"));
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setGeometry(6, 90, 195, 16);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setToolTip(QStringLiteral("This the process"));
    SpeedButton4 = button(208, 92, 71, 15, QStringLiteral("&Webpage"),
                          QStringLiteral("This the web page"));

    MP = new TMediaPlayer(this);
    OD = new QFileDialog(this);
    OD->setFileMode(QFileDialog::ExistingFiles);
    OD->setOption(QFileDialog::ReadOnly, false);

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
    connect(ScrollBar1, &QScrollBar::valueChanged, this, &TForm1::ScrollBar1Change);
    connect(PlayOrder, &QComboBox::activated, this, [this](int i) { PlayOrder->setCurrentIndex(i); });
}

void TForm1::FormCreate() {
    AssignShortcuts();
    startText_ = QStringLiteral("tolvane@example.org");
    Panel1->setText(startText_);
    SetApplicationTitle(startText_);
    Bar->setColors(QColor(74, 70, 70), QColor(255, 0, 0));
    PlayOrder->addItems({QStringLiteral("Con"), QStringLiteral("Shu"), QStringLiteral("Rep")});
    PlayOrder->setCurrentIndex(0);
}

void TForm1::AssignShortcuts() {
    auto item = [this](const QString& caption, const QKeySequence& key, auto handler) {
        auto* a = new QAction(caption, this);
        a->setShortcut(key);
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
    Repeat1 = item(QStringLiteral("Repeat"), QKeySequence(Qt::SHIFT | Qt::Key_R),
                   &TForm1::Repeat1Click);
    Continuous1 = item(QStringLiteral("Continuous"), QKeySequence(Qt::SHIFT | Qt::Key_C),
                       &TForm1::Continuous1Click);
    OnTop1 = item(QStringLiteral("OnTop"), Qt::Key_T, [] {});
    PlayListShow1 = item(QStringLiteral("PlayListShow"), Qt::Key_L, &TForm1::SpeedButton3Click);
}

void TForm1::SetApplicationTitle(const QString& title) {
    // What a task bar shows for the program; the window caption stays "Tolvane".
    setWindowIconText(title);
}

void TForm1::Timer2Timer() {
    Panel1->setText(MarqueeText);
    SetApplicationTitle(MarqueeText);
    MarqueeText = RotateMarquee(MarqueeText);
}

void TForm1::Panel2Click() { ToggleTimeMode(); }

void TForm1::Panel2MouseMove() {
    Panel2->setToolTip(Form2 && Form2->TimeMode == QLatin1String("elapsed")
                           ? QStringLiteral("Time remaining")
                           : QStringLiteral("Time elapsed"));
}

void TForm1::Panel1MouseMove() { Panel1->setToolTip(QString::fromUtf8(MP->FileName)); }

void TForm1::Panel3Click() {}

void TForm1::Panel3MouseMove() {
    Panel3->setToolTip(QStringLiteral("Volume\n\rClick to open vol. control"));
}

int TForm1::OuterWidth() const {
    const int frame = frameGeometry().width() - geometry().width();
    return width() + (frame > 0 ? frame : 6);
}

void TForm1::BarMouseDown(Qt::MouseButton button, int x) {
    if (button != Qt::LeftButton)
        return;
    try {
        const qint64 p = qint64(double(MP->MediaLength()) / double(OuterWidth() - Bar->x() - 50) * x);
        Bar->setValue(int(p));
        MP->SeekMedia(p);
        if (!isPaused())
            MP->PlayMedia();
        Timer1->start();
    } catch (const std::exception&) {
        // No device open: a click on the bar does nothing.
    }
}

void TForm1::BarMouseMove() {
    if (Bar->maximum() > 0)
        Bar->setToolTip(QStringLiteral("Step: %1%").arg(int(double(Bar->value()) / Bar->maximum() * 100)));
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
    if (!Form5)
        return;
    if (SpeedButton5->isStruckOut()) {
        SpeedButton5->setStruckOut(false);
        Form5->show();
    } else {
        SpeedButton5->setStruckOut(true);
        Form5->close();
    }
}

void TForm1::SpeedButton6Click() { SpeedButton6->setStruckOut(!SpeedButton6->isStruckOut()); }

void TForm1::SpeedButton4Click() {}

void TForm1::ScrollBar1Change(int) {}

void TForm1::Vol1Click() { ScrollBar1->setValue(ScrollBar1->value() + 2); }

void TForm1::Volmin1Click() { ScrollBar1->setValue(ScrollBar1->value() - 2); }

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
    Timer1->stop();
    event->accept();
    QApplication::quit();
}
