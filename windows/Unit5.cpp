#include "windows/Unit5.h"

#include "platform/MessageBox.h"
#include "windows/Controls.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QTime>
#include <QTimer>

TForm5::TForm5(QWidget* parent) : QWidget(parent) {
    setWindowTitle(QStringLiteral("Alarm"));
    Edit2 = new QLineEdit(this);
    Edit1 = new QLineEdit(this);
    SpeedButton1 = new TSpeedButton(this);
    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &TForm5::Timer1Timer);
    connect(SpeedButton1, &QToolButton::clicked, this, &TForm5::SpeedButton1Click);
    Timer1->start();
}

void TForm5::Timer1Timer() {
    Edit2->setText(QLocale::system().toString(QTime::currentTime(), QLocale::LongFormat));
}

void TForm5::SpeedButton1Click() {
    if (Edit2->text() == Edit1->text())
        ShowMessage(QStringLiteral("Hi ....you bees"));
}
