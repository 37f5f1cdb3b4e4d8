#include "playlist/Unit2.h"

#include "platform/DesktopServices.h"
#include "player/Unit1.h"
#include "player/media/MediaPlayer.h"
#include "playlist/ListBox.h"
#include "playlist/LyricView.h"
#include "playlist/core/AutomaticPlaylist.h"
#include "playlist/core/Lyrics.h"
#include "playlist/core/Playlist.h"
#include "windows/Accessibility.h"
#include "windows/Controls.h"
#include "windows/Frames.h"
#include "windows/MessageBox.h"

#include <QCloseEvent>
#include <QCursor>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>
#include <chrono>
#include <random>

namespace {

// The client area the controls were placed in; anchored controls keep their
// distance to the edges of this size.
constexpr int DesignWidth = 259;
constexpr int DesignHeight = 332;
// Smallest outer size the window may be dragged to.
constexpr int MinOuterWidth = 267;
constexpr int MinOuterHeight = 137;
// The scan box's centre lies 56 pixels down a 332-pixel client area and
// stays at that fraction when the height changes.
constexpr int GroupBoxCentre = 56;
constexpr int GroupBoxWidth = 193;
constexpr int GroupBoxHeight = 81;
// How long the window follows the main window's frame at start.
constexpr int FollowMainWindowMs = 3000;

const QColor& WindowColour = WindowGreen;
const QColor& DataColour = DataGround;
const QColor& LineColour = ListText;
const QColor& LimeColour = DataText;

// The time panel shows "- 03:20 " in 58 pixels: a narrow face at the
// design's 13 pixels keeps it whole.
QFont timePanelFont() {
    QFont font;
    font.setFamilies({QStringLiteral("Liberation Sans Narrow"),
                      QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(13);
    return font;
}

// Every user command runs through RunCommand: an error that the command does
// not handle ends it and is shown in the standard error message box, and
// never reaches the event loop.
template <class Handler> auto asCommand(TForm2* form, Handler handler) {
    return [form, handler] { RunCommand([&] { (form->*handler)(); }); };
}

QAction* addItem(QMenu* menu, const QString& caption, TForm2* form, void (TForm2::*handler)()) {
    QAction* item = menu->addAction(caption);
    QObject::connect(item, &QAction::triggered, form, asCommand(form, handler));
    return item;
}

// A flat button's menu also opens at the pointer on a right click.
void offerAsContextMenu(QWidget* widget, QMenu* menu) {
    widget->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(widget, &QWidget::customContextMenuRequested, menu,
                     [widget, menu](const QPoint& at) { menu->popup(widget->mapToGlobal(at)); });
}

// What the window manager adds around the client area (nothing without one).
QSize frameExtra(const QWidget* window) {
    const QMargins frame = FrameMargins(window);
    return {frame.left() + frame.right(), frame.top() + frame.bottom()};
}

unsigned clockSeed() {
    return unsigned(std::chrono::high_resolution_clock::now().time_since_epoch().count());
}

} // namespace

TForm2::TForm2(TForm1* form1, QWidget* parent) : QWidget(parent), Form1(form1) {
    Form1->Form2 = this;
    setWindowTitle(QStringLiteral("Play List"));
    CreateControls();
    CreateMenus();
    DescribeForScreenReaders(*this);
    FormCreate();
}

TForm2::~TForm2() = default;

void TForm2::CreateControls() {
    resize(DesignWidth, DesignHeight);
    QPalette windowPalette = palette();
    windowPalette.setColor(QPalette::Window, WindowColour);
    setPalette(windowPalette);
    setAutoFillBackground(true);
    setFont(DesignFont(QStringLiteral("MS Sans Serif")));

    Lists = new Playlist(this);
    ListB = new TListBox(Lists, this);
    ListB->setGeometry(4, 4, 254, 301);
    ListB->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    ListB->setLineWidth(2);
    QPalette listPalette = ListB->palette();
    listPalette.setColor(QPalette::Base, DataColour);
    listPalette.setColor(QPalette::Text, LineColour);
    ListB->setPalette(listPalette);
    // "Tahoma" at a fixed pitch: a monospaced face keeps the numbers aligned.
    ListB->setFont(DesignFont(QStringLiteral("Modern"), 11, true));

    auto button = [this](int x, const QString& text, int w) {
        auto* b = new TSpeedButton(this);
        b->setGeometry(x, 306, w, 25);
        b->setText(text);
        return b;
    };
    Add = button(8, QStringLiteral("&Add"), 33);
    Add->setToolTip(QStringLiteral("Add item"));
    Rem = button(40, QStringLiteral("&Clear"), 33);
    SpeedButton1 = button(72, QStringLiteral("&Sel"), 33);
    List = button(104, QStringLiteral("&List"), 33);
    SpeedButton2 = button(144, QStringLiteral("&Help"), 41);
    SpeedButton2->setToolTip(QStringLiteral("Help"));
    QPalette helpPalette = SpeedButton2->palette();
    helpPalette.setColor(QPalette::ButtonText, Qt::blue);
    SpeedButton2->setPalette(helpPalette);
    connect(Add, &QToolButton::clicked, this, asCommand(this, &TForm2::AddClick));
    connect(Rem, &QToolButton::clicked, this, asCommand(this, &TForm2::RemClick));
    connect(SpeedButton1, &QToolButton::clicked, this, asCommand(this, &TForm2::SpeedButton1Click));
    connect(List, &QToolButton::clicked, this, asCommand(this, &TForm2::ListClick));
    connect(SpeedButton2, &QToolButton::clicked, this, asCommand(this, &TForm2::SpeedButton2Click));

    Panel1 = new TPanel(this);
    Panel1->setGeometry(192, 306, 58, 25);
    Panel1->setText(QStringLiteral("- - : - -"));
    Panel1->setColors(DataColour, LimeColour);
    Panel1->setBevels(TBevel::Lowered, TBevel::Lowered);
    Panel1->setFont(timePanelFont());
    connect(Panel1, &TPanel::clicked, this, asCommand(this, &TForm2::Panel1Click));

    SD = TLazyFileDialog(
        this, [](QFileDialog* dialog) { dialog->setAcceptMode(QFileDialog::AcceptSave); });

    connect(ListB, &TListBox::doubleClicked, this, asCommand(this, &TForm2::ListBDblClick));
    connect(ListB, &TListBox::currentRowChanged, this, asCommand(this, &TForm2::ListBClick));
    connect(ListB, &TListBox::keyDown, this, [this](int key, Qt::KeyboardModifiers modifiers) {
        RunCommand([&] { ListBKeyDown(key, modifiers); });
    });
    connect(ListB, &TListBox::keyUp, this, [this](int key, Qt::KeyboardModifiers modifiers) {
        RunCommand([&] { ListBKeyUp(key, modifiers); });
    });
    connect(ListB, &TListBox::mousePressed, this,
            [this](Qt::MouseButton button) { RunCommand([&] { ListBMouseDown(button); }); });
    connect(ListB, &TListBox::mouseReleased, this,
            [this](Qt::MouseButton button) { RunCommand([&] { ListBMouseUp(button); }); });
}

// Neither shows at start, so both wait for their first use: the lyric view
// behind the list, the scan box over everything else while a scan runs.
void TForm2::CreateHiddenControls() {
    if (lirik)
        return;
    lirik = new TLyricView(this);
    SetupLyricView(lirik, [this] { lirikDblClick(); });
    lirik->lower(); // behind ListB until a lyric is shown
    // Out of sight, it must not take the focus by Tab either.
    lirik->setFocusPolicy(Qt::NoFocus);
    // Made after the window was shown, it would stay hidden unless told.
    lirik->show();
    lirik->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lirik, &QWidget::customContextMenuRequested, PopupMenu6,
            [this](const QPoint& at) { PopupMenu6->popup(lirik->viewport()->mapToGlobal(at)); });

    GroupBox1 = new QGroupBox(QStringLiteral("Scanning Bad Files"), this);
    GroupBox1->resize(GroupBoxWidth, GroupBoxHeight);
    Label1 = new QLabel(QStringLiteral("File"), GroupBox1);
    Label1->move(5, 12);
    Label2 = new QLabel(QStringLiteral("0%"), GroupBox1);
    Label2->move(90, 25);
    ProgressBar1 = new QProgressBar(GroupBox1);
    ProgressBar1->setGeometry(16, 40, 158, 9);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setTextVisible(false);
    Button1 = new QPushButton(QStringLiteral("&Stop"), GroupBox1);
    Button1->setGeometry(56, 56, 83, 17);
    connect(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
    // Red caption, name and Stop on dark grey, the percentage in aqua. The
    // caption sits on the box's top edge, as the labels' places expect.
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setFont(DesignFont(QStringLiteral("MS Sans Serif")));
    GroupBox1->setStyleSheet(
        QStringLiteral("QGroupBox#GroupBox1 { background-color: rgb(74, 70, 70); border: 1px solid "
                       "rgb(150, 150, 150);"
                       " margin: 0px; padding: 0px; }"
                       "QGroupBox#GroupBox1::title { subcontrol-origin: border; left: 6px; top: "
                       "-1px; padding: 0 2px;"
                       " color: rgb(255, 0, 0); background-color: rgb(74, 70, 70); }"
                       "QLabel { color: rgb(255, 0, 0); background: transparent; }"
                       "QPushButton { color: rgb(255, 0, 0); }"));
    Label2->setStyleSheet(QStringLiteral("color: rgb(0, 255, 255);"));
    GroupBox1->hide();
    DescribeForScreenReaders(*this);

    PlaceHiddenControls();
}

void TForm2::PlaceHiddenControls() {
    if (!lirik)
        return;
    // Anchored to all four edges, as ListB.
    lirik->setGeometry(4, 4, 252 + width() - DesignWidth, 300 + height() - DesignHeight);
    GroupBox1->move(groupBoxAt_);
}

void TForm2::CreateMenus() {
    PopupMenu4 = new QMenu(this);
    addItem(PopupMenu4, QStringLiteral("Add Folder"), this, &TForm2::AddFolder1Click);
    IncludeSubfolder1 = PopupMenu4->addAction(QStringLiteral("Include Subfolder"));
    IncludeSubfolder1->setCheckable(true);
    IncludeSubfolder1->setChecked(true);
    // The handler keeps the check mark itself; Qt has already flipped a
    // checkable item when it reports the click, so that flip is undone first
    // and the mark changes once per click.
    connect(IncludeSubfolder1, &QAction::triggered, this, [this] {
        IncludeSubfolder1->setChecked(!IncludeSubfolder1->isChecked());
        RunCommand([this] { IncludeSubfolder1Click(); });
    });
    PopupMenu4->addSeparator();
    addItem(PopupMenu4, QStringLiteral("Add File(s)"), this, &TForm2::AddFiles1Click);

    PopupMenu2 = new QMenu(this);
    addItem(PopupMenu2, QStringLiteral("Clear Play List"), this, &TForm2::Clearplaylist1Click);
    PopupMenu2->addSeparator();
    addItem(PopupMenu2, QStringLiteral("Clear Bad Files"), this, &TForm2::ClearBadFiles1Click);
    addItem(PopupMenu2, QStringLiteral("Clear Unselected"), this, &TForm2::Crop1Click);
    addItem(PopupMenu2, QStringLiteral("Clear Selected"), this, &TForm2::Clearselected1Click);

    PopupMenu3 = new QMenu(this);
    addItem(PopupMenu3, QStringLiteral("Deselect All"), this, &TForm2::DeselectAll2Click);
    PopupMenu3->addSeparator();
    addItem(PopupMenu3, QStringLiteral("Invert Selection"), this, &TForm2::InvertSelection1Click);
    addItem(PopupMenu3, QStringLiteral("Select All"), this, &TForm2::SelectAll1Click);

    PopupMenu1 = new QMenu(this);
    addItem(PopupMenu1, QStringLiteral("New List"), this, &TForm2::Newlist1Click);
    PopupMenu1->addSeparator();
    addItem(PopupMenu1, QStringLiteral("Save List"), this, &TForm2::Savelist1Click);
    PopupMenu1->addSeparator();
    addItem(PopupMenu1, QStringLiteral("Shuffle list"), this, &TForm2::Shufflelist1Click);
    PopupMenu1->addSeparator();
    addItem(PopupMenu1, QStringLiteral("Load List"), this, &TForm2::LoadList1Click);
    addItem(PopupMenu1, QStringLiteral("Add to List"), this, &TForm2::Addtolist1Click);

    PopupMenu7 = new QMenu(this);
    PopupMenu7->addAction(QStringLiteral("RER help"))->setEnabled(false);
    PopupMenu7->addSeparator();
    addItem(PopupMenu7, QStringLiteral("About!!!"), this, &TForm2::About1Click);

    offerAsContextMenu(Add, PopupMenu4);
    offerAsContextMenu(Rem, PopupMenu2);
    offerAsContextMenu(SpeedButton1, PopupMenu3);
    offerAsContextMenu(List, PopupMenu1);
    offerAsContextMenu(SpeedButton2, PopupMenu7);

    // ListB's menu. Its shortcuts belong to the list alone: they act while
    // the list has the keyboard focus and come before every shortcut of the
    // window.
    PopupMenu5 = new QMenu(this);
    const struct {
        const char* caption;
        QKeySequence key;
        void (TForm2::*handler)();
    } listItems[] = {
        {"Go to file's folder", QKeySequence(Qt::Key_G), &TForm2::Gotofile1Click},
        {"View file info", QKeySequence(Qt::Key_I), &TForm2::Viewfileinfo1Click},
        {"Lyric", QKeySequence(Qt::CTRL | Qt::Key_L), &TForm2::Lyric1Click},
        {"Refresh", QKeySequence(Qt::CTRL | Qt::Key_R), &TForm2::Refresh1Click},
    };
    for (const auto& entry : listItems) {
        QAction* item =
            addItem(PopupMenu5, QString::fromLatin1(entry.caption), this, entry.handler);
        item->setShortcut(entry.key);
        item->setShortcutContext(Qt::WidgetShortcut);
        ListB->addAction(item);
    }
    ListB->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ListB, &QWidget::customContextMenuRequested, PopupMenu5,
            [this](const QPoint& at) { PopupMenu5->popup(ListB->viewport()->mapToGlobal(at)); });

    PopupMenu6 = new QMenu(this);
    addItem(PopupMenu6, QStringLiteral("Reload"), this, &TForm2::Reload1Click);
    addItem(PopupMenu6, QStringLiteral("Copy"), this, &TForm2::Copy1Click);
    addItem(PopupMenu6, QStringLiteral("Edit/Create"), this, &TForm2::Edit1Click);
    addItem(PopupMenu6, QStringLiteral("Help"), this, &TForm2::Help1Click);
    PopupMenu6->addSeparator();
    addItem(PopupMenu6, QStringLiteral("Close"), this, &TForm2::Closelyricwindow1Click);

    // The hidden shortcut items "Form2ShortCut": never shown as a menu bar,
    // they act through the window's own action list.
    Next1 = new QAction(QStringLiteral("Next"), this);
    Prev1 = new QAction(QStringLiteral("Prev"), this);
    Volplus1 = new QAction(QStringLiteral("Volplus"), this);
    volmin1 = new QAction(QStringLiteral("volmin"), this);
    connect(Next1, &QAction::triggered, this, asCommand(this, &TForm2::Next1Click));
    connect(Prev1, &QAction::triggered, this, asCommand(this, &TForm2::Prev1Click));
    connect(Volplus1, &QAction::triggered, this, asCommand(this, &TForm2::Volplus1Click));
    connect(volmin1, &QAction::triggered, this, asCommand(this, &TForm2::volmin1Click));
}

void TForm2::FormCreate() {
    // Directly below the main window, as wide as it (outer sizes); the
    // height stays as designed.
    show();
    PlaceBelowMainWindow();
    // A window manager frames both windows only after they are shown, and
    // the title bar it adds to the main window would otherwise cover the
    // top of this one: follow the frames as they arrive, for a moment.
    followMainWindow_ = true;
    Form1->installEventFilter(this);
    for (QWidget* framed : {static_cast<QWidget*>(Form1), static_cast<QWidget*>(this)})
        WatchFrame(framed, this, [this] {
            if (followMainWindow_)
                PlaceBelowMainWindow();
        });
    QTimer::singleShot(FollowMainWindowMs, this, [this] {
        followMainWindow_ = false;
        Form1->removeEventFilter(this);
    });
    ListB->setAcceptDrops(true);
    connect(ListB, &TListBox::filesDropped, this, &TForm2::HandleDroppedFiles);
    ReadAutomaticPlaylist();
    UpdateCaption();
    for (QAction* a : {Next1, Prev1, Volplus1, volmin1}) {
        a->setShortcutContext(Qt::WindowShortcut);
        addAction(a);
    }
    Next1->setShortcut(Qt::Key_Down);
    Prev1->setShortcut(Qt::Key_Up);
    Volplus1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Up));
    volmin1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Down));
    AdoptShortcuts(Form1->TheShortCut);
    RenumberList();
    ListB->setFocus();
}

void TForm2::AdoptShortcuts(const QList<QAction*>& items) {
    QList<QKeySequence> taken;
    for (QAction* own : actions())
        taken << own->shortcut();
    for (QAction* item : items) {
        if (taken.contains(item->shortcut()))
            continue;
        addAction(item);
        taken << item->shortcut();
    }
}

int TForm2::EntryCount() const {
    return Lists->EntryCount();
}

QByteArray TForm2::EntryPath(int i) const {
    return Lists->EntryPath(i);
}

int TForm2::CurrentIndex() const {
    return Lists->CurrentIndex();
}

void TForm2::SetCurrentIndex(int i) {
    Lists->SetCurrentIndex(i);
}

void TForm2::AppendEntry(const QByteArray& path) {
    Lists->AppendEntry(path);
}

void TForm2::RemoveEntry(int i) {
    Lists->RemoveEntry(i);
}

void TForm2::ClearEntries() {
    Lists->ClearEntries();
}

void TForm2::RenumberList() {
    Lists->RenumberList();
}

void TForm2::UpdateCaption() {
    setWindowTitle(Lists->StatusLine());
}

void TForm2::ListBDblClick() {
    Form1->PlayCurrentEntry();
}

void TForm2::Next1Click() {
    Form1->SelectNextEntry();
}

void TForm2::Prev1Click() {
    Form1->SelectPreviousEntry();
}

void TForm2::Volplus1Click() {
    Form1->Vol1Click();
}

void TForm2::volmin1Click() {
    Form1->Volmin1Click();
}

void TForm2::Panel1Click() {
    Form1->ToggleTimeMode();
}

void TForm2::AddClick() {
    PopupAbove(Add, PopupMenu4, 68);
}

void TForm2::RemClick() {
    PopupAbove(Rem, PopupMenu2, 84);
}

void TForm2::SpeedButton1Click() {
    PopupAbove(SpeedButton1, PopupMenu3, 68);
}

void TForm2::ListClick() {
    PopupAbove(List, PopupMenu1, 120);
}

void TForm2::SpeedButton2Click() {
    PopupAbove(SpeedButton2, PopupMenu7, 50);
}

void TForm2::PopupAbove(TSpeedButton*, QMenu* menu, int offset) {
    // Moved up by about the menu's height, so that it opens upwards from the
    // pointer over the buttons at the window's bottom edge.
    menu->popup(QCursor::pos() - QPoint(0, offset));
}

void TForm2::Gotofile1Click() {
    // The folder is the current entry's path up to and including its last
    // delimiter. A path with none (a bare relative name) names no folder, and
    // nothing is opened rather than some unrelated one.
    const QByteArray path = EntryPath(CurrentIndex());
    const QByteArray folder = path.left(path.size() - DisplayName(path).size());
    if (!folder.isEmpty())
        OpenFolderInFileManager(folder);
}

void TForm2::Refresh1Click() {
    const QPoint home = pos();
    std::mt19937 random(clockSeed());
    std::uniform_int_distribution<int> offset(0, 19);
    QPoint at = home;
    for (int i = 0; i < 100; ++i) {
        at.setX(home.x() - 10 + offset(random));
        move(at);
        at.setY(home.y() - 10 + offset(random));
        move(at);
    }
    move(home);
}

void TForm2::FormResize() {
    groupBoxAt_.setX(frameGeometry().width() / 2 - GroupBoxWidth / 2);
    PlaceHiddenControls();
}

void TForm2::PlaceBelowMainWindow() {
    if (followMainWindow_ && --placementsLeft_ <= 0)
        followMainWindow_ = false;
    // Directly below the main window, as wide as it (outer sizes); the
    // height stays as designed.
    // The client area is placed, not the frame: where Qt has not yet seen
    // this window's frame, a move would put the frame's top left corner
    // where the client's should be, and the title bar over the main window.
    const QRect main = OuterGeometry(Form1);
    const QMargins frame = FrameMargins(this);
    setGeometry(main.left() + frame.left(), main.bottom() + 1 + frame.top(),
                main.width() - frame.left() - frame.right(), height());
    ApplyMinimumSize();
}

void TForm2::ApplyMinimumSize() {
    // The minimum is an outer size; the frame is known only once the window
    // manager has framed the window, so it is worked out again whenever the
    // frame may have changed.
    const QSize extra = frameExtra(this);
    setMinimumSize(MinOuterWidth - extra.width(), MinOuterHeight - extra.height());
}

bool TForm2::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Form1 && followMainWindow_ &&
        (event->type() == QEvent::Move || event->type() == QEvent::Resize))
        PlaceBelowMainWindow();
    return QWidget::eventFilter(watched, event);
}

void TForm2::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    if (ListB)
        ApplyMinimumSize();
    if (followMainWindow_ &&
        OuterGeometry(this).topLeft() !=
            QPoint(OuterGeometry(Form1).left(), OuterGeometry(Form1).bottom() + 1))
        PlaceBelowMainWindow();
}

void TForm2::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (!ListB)
        return;
    ApplyMinimumSize();

    // Anchors: ListB and lirik keep all four distances, the buttons their
    // left and bottom ones, the time panel its left, right and bottom ones.
    const int w = width(), h = height();
    const int dw = w - DesignWidth, dh = h - DesignHeight;
    ListB->setGeometry(4, 4, 254 + dw, 301 + dh);
    for (TSpeedButton* b : {Add, Rem, SpeedButton1, List, SpeedButton2})
        b->move(b->x(), 306 + dh);
    Panel1->setGeometry(192, 306 + dh, 58 + dw, 25);
    groupBoxAt_.setY(h * GroupBoxCentre / DesignHeight - GroupBoxHeight / 2);
    FormResize();
}

void TForm2::closeEvent(QCloseEvent* event) {
    // Closing only hides the window; the struck-out caption of the main
    // window's playlist button is how the main window knows. The close is
    // accepted (an accepted close of this window hides it and destroys
    // nothing): refusing it would also refuse the application's quit, which
    // closes every window first.
    Form1->SpeedButton3->setStruckOut(true);
    event->accept();
}
