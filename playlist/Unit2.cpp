#include "playlist/Unit2.h"

#include "player/MediaPlayer.h"
#include "player/Unit1.h"
#include "platform/MessageBox.h"
#include "playlist/ListBox.h"
#include "playlist/Playlist.h"
#include "windows/Controls.h"

#include <QCloseEvent>
#include <QCursor>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTextEdit>

TForm2::TForm2(TForm1* form1, QWidget* parent) : QWidget(parent), Form1(form1) {
    Form1->Form2 = this;
    setWindowTitle(QStringLiteral("Play List"));
    CreateControls();
    CreateMenus();
    FormCreate();
}

TForm2::~TForm2() = default;

void TForm2::CreateControls() {
    resize(259, 332);
    Lists = new Playlist(this);
    ListB = new TListBox(Lists, this);
    ListB->setGeometry(4, 4, 254, 301);

    auto button = [this](int x, const QString& text, int w) {
        auto* b = new TSpeedButton(this);
        b->setGeometry(x, 306, w, 25);
        b->setText(text);
        return b;
    };
    Add = button(8, QStringLiteral("&Add"), 33);
    Rem = button(40, QStringLiteral("&Clear"), 33);
    SpeedButton1 = button(72, QStringLiteral("&Sel"), 33);
    List = button(104, QStringLiteral("&List"), 33);
    SpeedButton2 = button(144, QStringLiteral("&Help"), 41);

    Panel1 = new TPanel(this);
    Panel1->setGeometry(192, 306, 58, 25);
    Panel1->setText(QStringLiteral("- - : - -"));
    Panel1->setColors(QColor(74, 70, 70), QColor(0, 255, 0));
    connect(Panel1, &TPanel::clicked, this, &TForm2::Panel1Click);

    lirik = new QTextEdit(this);
    lirik->setGeometry(4, 4, 252, 300);
    lirik->setReadOnly(true);
    lirik->lower();

    GroupBox1 = new QGroupBox(QStringLiteral("Scanning Bad Files"), this);
    GroupBox1->setGeometry(24, 16, 193, 81);
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
    GroupBox1->hide();

    SD = new QFileDialog(this);
    SD->setAcceptMode(QFileDialog::AcceptSave);

    connect(ListB, &TListBox::doubleClicked, this, &TForm2::ListBDblClick);
    connect(ListB, &TListBox::currentRowChanged, this, &TForm2::ListBClick);
    connect(ListB, &TListBox::keyDown, this, &TForm2::ListBKeyDown);
    connect(ListB, &TListBox::keyUp, this, &TForm2::ListBKeyUp);
    connect(ListB, &TListBox::mousePressed, this, &TForm2::ListBMouseDown);
    connect(ListB, &TListBox::mouseReleased, this, &TForm2::ListBMouseUp);
}

void TForm2::CreateMenus() {
    Next1 = new QAction(QStringLiteral("Next"), this);
    Prev1 = new QAction(QStringLiteral("Prev"), this);
    Volplus1 = new QAction(QStringLiteral("Volplus"), this);
    volmin1 = new QAction(QStringLiteral("volmin"), this);
    connect(Next1, &QAction::triggered, this, &TForm2::Next1Click);
    connect(Prev1, &QAction::triggered, this, &TForm2::Prev1Click);
    connect(Volplus1, &QAction::triggered, this, &TForm2::Volplus1Click);
    connect(volmin1, &QAction::triggered, this, &TForm2::volmin1Click);
    IncludeSubfolder1 = new QAction(QStringLiteral("Include Subfolder"), this);
    IncludeSubfolder1->setCheckable(true);
    IncludeSubfolder1->setChecked(true);
}

void TForm2::FormCreate() {
    show();
    resize(Form1->frameGeometry().width() - (frameGeometry().width() - width()), height());
    move(Form1->frameGeometry().left(), Form1->frameGeometry().top() + Form1->frameGeometry().height());
    ListB->setAcceptDrops(true);
    connect(ListB, &TListBox::filesDropped, this, &TForm2::HandleDroppedFiles);
    ReadAutomaticPlaylist();
    UpdateCaption();
    for (QAction* a : {Next1, Prev1, Volplus1, volmin1})
        a->setShortcutContext(Qt::WindowShortcut), addAction(a);
    Next1->setShortcut(Qt::Key_Down);
    Prev1->setShortcut(Qt::Key_Up);
    Volplus1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Up));
    volmin1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Down));
    AdoptShortcuts(Form1->TheShortCut);
    RenumberList();
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

int TForm2::EntryCount() const { return Lists->EntryCount(); }
QByteArray TForm2::EntryPath(int i) const { return Lists->EntryPath(i); }
int TForm2::CurrentIndex() const { return Lists->CurrentIndex(); }
void TForm2::SetCurrentIndex(int i) { Lists->SetCurrentIndex(i); }
void TForm2::AppendEntry(const QByteArray& path) { Lists->AppendEntry(path); }
void TForm2::RemoveEntry(int i) { Lists->RemoveEntry(i); }
void TForm2::ClearEntries() { Lists->ClearEntries(); }
void TForm2::RenumberList() { Lists->RenumberList(); }
void TForm2::UpdateCaption() { setWindowTitle(Lists->StatusLine()); }

void TForm2::ListBDblClick() { Form1->PlayCurrentEntry(); }

void TForm2::Next1Click() { Form1->SelectNextEntry(); }
void TForm2::Prev1Click() { Form1->SelectPreviousEntry(); }
void TForm2::Volplus1Click() { Form1->Vol1Click(); }
void TForm2::volmin1Click() { Form1->Volmin1Click(); }
void TForm2::Panel1Click() { Form1->ToggleTimeMode(); }

void TForm2::Gotofile1Click() {}
void TForm2::Refresh1Click() {}

void TForm2::PopupAbove(TSpeedButton*, QMenu* menu, int offset) {
    menu->popup(QCursor::pos() - QPoint(0, offset));
}

void TForm2::FormResize() {
    GroupBox1->move(frameGeometry().width() / 2 - GroupBox1->width() / 2, GroupBox1->y());
}

void TForm2::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FormResize();
}

void TForm2::closeEvent(QCloseEvent* event) {
    hide();
    Form1->SpeedButton3->setStruckOut(true);
    event->ignore();
}
