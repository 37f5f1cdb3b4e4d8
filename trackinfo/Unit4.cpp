#include "trackinfo/Unit4.h"

#include "player/Unit1.h"
#include "player/media/MediaPlayer.h"
#include "playlist/Unit2.h"
#include "playlist/core/Playlist.h"
#include "trackinfo/core/Id3v1.h"
#include "trackinfo/core/ReadOnlyFile.h"
#include "windows/Accessibility.h"
#include "windows/Controls.h"
#include "windows/MessageBox.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

TForm4::TForm4(TForm2* form2)
    : QWidget(form2,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      Form1(form2->Form1), Form2(form2) {
    setAttribute(Qt::WA_DeleteOnClose);
    CreateControls();
    DescribeForScreenReaders(*this);
    FormCreate();
}

void TForm4::CreateControls() {
    setWindowTitle(QStringLiteral("Mp3 File Info"));
    setFixedSize(272, 234);
    move(612, 254);
    KeepInsideScreen(this);
    setFont(DesignFont(QStringLiteral("MS Sans Serif")));
    QPalette ground = palette();
    ground.setColor(QPalette::Window, WindowGreen);
    setPalette(ground);
    setAutoFillBackground(true);

    auto box = [](QWidget* parent, int x, int y, int w) {
        auto* edit = new QLineEdit(parent);
        edit->setGeometry(x, y, w, 21);
        edit->setReadOnly(true);
        QPalette colours = edit->palette();
        colours.setColor(QPalette::Base, DataGround);
        colours.setColor(QPalette::Text, DataText);
        edit->setPalette(colours);
        return edit;
    };
    Edit7 = box(this, 4, 4, 265);

    GroupBox1 = new TGroupBox(QStringLiteral("ID3 Tag Information (Read Only)"), this);
    GroupBox1->setGeometry(4, 32, 265, 201);

    auto label = [this](int y, const QString& caption) {
        auto* l = new QLabel(caption, GroupBox1);
        l->move(8, y);
        l->adjustSize();
        return l;
    };
    // The blanks line the colons up as the captions were always written.
    Label1 = label(16, QStringLiteral("Title          :"));
    Label2 = label(40, QStringLiteral("Artist         :"));
    Label3 = label(64, QStringLiteral("Album       :"));
    Label4 = label(88, QStringLiteral("Year         :"));
    Label5 = label(112, QStringLiteral("Genre       :"));
    Label6 = label(136, QStringLiteral("Coment     :"));
    Title = box(GroupBox1, 72, 16, 185);
    Artist = box(GroupBox1, 72, 40, 185);
    Album = box(GroupBox1, 72, 64, 185);
    Year = box(GroupBox1, 72, 88, 185);
    Genre = box(GroupBox1, 72, 112, 185);
    Comment = box(GroupBox1, 72, 136, 185);

    auto button = [this](int x, int w, int h, const QString& caption) {
        auto* b = new TSpeedButton(GroupBox1);
        b->setGeometry(x, 168, w, h);
        b->setText(caption);
        return b;
    };
    SpeedButton2 = button(16, 65, 22, QStringLiteral("<< Previous "));
    SpeedButton1 = button(104, 57, 25, QStringLiteral("&OK"));
    SpeedButton3 = button(184, 65, 22, QStringLiteral("&Next >>"));
    connect(SpeedButton1, &QToolButton::clicked, this, &TForm4::SpeedButton1Click);
    connect(SpeedButton2, &QToolButton::clicked, this, &TForm4::SpeedButton2Click);
    connect(SpeedButton3, &QToolButton::clicked, this, &TForm4::SpeedButton3Click);
}

void TForm4::FormCreate() {
    RunCommand([this] { RefreshFileInfo(); });
}

// A box scrolls to keep its cursor in view, and setText leaves the cursor
// at the end: a long title would show only its last letters.
void TForm4::showFromTheStart() {
    for (QLineEdit* box : {Edit7, Title, Artist, Album, Year, Genre, Comment})
        box->setCursorPosition(0);
}

bool TForm4::ShowTag(const QByteArray& path) {
    Id3v1Info tag;
    bool read = true;
    try {
        tag = ReadId3v1Tag(path);
    } catch (const EFOpenError&) {
        read = false; // six empty boxes, and no message
    }
    Title->setText(tag.Title);
    Artist->setText(tag.Artist);
    Album->setText(tag.Album);
    Year->setText(tag.Year);
    Genre->setText(tag.Genre);
    Comment->setText(tag.Comment);
    showFromTheStart();
    return read;
}

void TForm4::RefreshFileInfo() {
    const QByteArray path = Form2->EntryPath(Form2->CurrentIndex());
    Edit7->setText(PathText(path));
    TMediaPlayer* mp = Form1->MP;

    // Another file than the loaded one: playback goes on untouched. Timer1
    // keeps running too, whether the tag could be read or not; stopping it
    // would leave the track playing with a frozen clock and no end-of-track
    // handling.
    //
    // A device that holds no file (its last open failed, or it was closed at
    // the end of a track) has nothing to resume either: starting it here
    // would play a track the user never asked for.
    if (path != mp->FileName || !mp->isOpen()) {
        ShowTag(path);
        return;
    }

    // The loaded file: release it for the read, then go on where it was,
    // also when it was paused or stopped.
    const qint64 position = mp->MediaPosition();
    mp->CloseMedia();
    Form1->Timer1->stop();
    if (!ShowTag(path)) {
        // It cannot be read, so it cannot be reopened: nothing plays now, and
        // the title must not go on scrolling as if something did.
        Form1->Timer2->stop();
        return;
    }
    Form1->PlayCurrentEntry();
    // When the reopen failed, the recovery has taken over (and may have
    // started another entry): the remembered position is not for it.
    if (!mp->isOpen() || mp->FileName != path)
        return;
    mp->SeekMedia(position);
    mp->PlayMedia();
}

void TForm4::SpeedButton1Click() {
    close();
}

void TForm4::SpeedButton2Click() {
    RunCommand([this] {
        Form1->SelectPreviousEntry();
        RefreshFileInfo();
    });
}

void TForm4::SpeedButton3Click() {
    RunCommand([this] {
        Form1->SelectNextEntry();
        RefreshFileInfo();
    });
}
