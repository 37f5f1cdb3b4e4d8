#include "windows/Unit3.h"

#include "windows/Accessibility.h"
#include "windows/Controls.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <algorithm>

TForm3::TForm3(QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    setWindowTitle(QStringLiteral("About Korvu"));
    setFixedSize(363, 124);
    setFont(DesignFont(QStringLiteral("MS Sans Serif")));
    QPalette cream = palette();
    cream.setColor(QPalette::Window, QColor(255, 251, 240));
    setPalette(cream);
    setAutoFillBackground(true);

    Image1 = new QLabel(this);
    Image1->setGeometry(4, 4, 61, 53);
    Image1->setScaledContents(true);
    Image1->setPixmap(DesignPicture(QStringLiteral(":/about.jpg")));

    auto label = [this](int x, int y, int w, int h, const QString& text) {
        auto* l = new QLabel(text, this);
        // The substitute fonts run a little wider than the designed ones: a
        // text is never cut off at the designed width.
        l->setGeometry(x, y, w, h);
        l->resize(std::max(w, l->sizeHint().width()), std::max(h, l->sizeHint().height()));
        return l;
    };
    QFont title = DesignFont(QStringLiteral("MS Sans Serif"));
    title.setPointSize(14);
    title.setBold(true);
    StaticText1 = label(114, 6, 136, 28, QStringLiteral("Tolvane"));
    StaticText1->setFont(title);
    QPalette navy = StaticText1->palette();
    navy.setColor(QPalette::WindowText, QColor(0, 0, 128));
    StaticText1->setPalette(navy);

    Label3 = label(87, 32, 53, 13, QStringLiteral("Version 1.0"));
    Label2 = label(151, 32, 58, 13, QStringLiteral("01/05/2013"));
    Label5 = label(47, 67, 274, 13, QStringLiteral("tolvane@example.org      The Tolvane team"));
    QPalette red = Label5->palette();
    red.setColor(QPalette::WindowText, QColor(255, 0, 0));
    Label5->setPalette(red);
    Label1 = label(152, 88, 63, 13, QStringLiteral("Marrowby"));
    DescribeForScreenReaders(*this);
}

void TForm3::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Centred on the screen the window opens on, not over its owner.
    if (const QScreen* screen = this->screen()) {
        QRect place = frameGeometry();
        place.moveCenter(screen->availableGeometry().center());
        move(place.topLeft());
    }
}
