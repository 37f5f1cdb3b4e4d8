#include "windows/Unit5.h"

#include "windows/Accessibility.h"
#include "windows/Controls.h"
#include "windows/MessageBox.h"

#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QVBoxLayout>

QString AlarmClockText(const QTime& time, const QLocale& locale) {
    // A time the user types carries no zone, so the zone fields ("t" .. "tttt")
    // are dropped from the format together with the blank before them;
    // quoted literal text is left alone.
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString kept;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == u'\'')
            quoted = !quoted;
        if (quoted || c != u't') {
            kept += c;
            continue;
        }
        while (!kept.isEmpty() && kept.back().isSpace())
            kept.chop(1);
        while (i + 1 < format.size() && format[i + 1] == u't')
            ++i;
    }
    return locale.toString(time, kept.trimmed());
}

TForm5::TForm5(QWidget* parent) : QWidget(parent) {
    setWindowTitle(QStringLiteral("Alarm"));
    setFont(DesignFont(QStringLiteral("MS Sans Serif")));
    resize(345, 139);
    move(976, 461);
    KeepInsideScreen(this);

    Panel1 = new QWidget(this);
    QPalette green = Panel1->palette();
    green.setColor(QPalette::Window, WindowGreen);
    Panel1->setPalette(green);
    Panel1->setAutoFillBackground(true);
    auto* fill = new QVBoxLayout(this);
    fill->setContentsMargins(0, 0, 0, 0);
    fill->addWidget(Panel1);

    GroupBox1 = new TGroupBox(QStringLiteral("Alarm System"), Panel1);
    GroupBox1->setGeometry(24, 16, 305, 105);
    GroupBox1->setPalette(green);
    GroupBox1->setAutoFillBackground(true);

    Edit2 = new QLineEdit(GroupBox1);
    Edit2->setGeometry(168, 16, 105, 21);
    Label1 = new QLabel(QStringLiteral("Please enter your time:!!"), GroupBox1);
    Label1->move(32, 40);
    Label1->adjustSize();
    Edit1 = new QLineEdit(GroupBox1);
    Edit1->setGeometry(32, 64, 177, 19);
    Edit1->setFrame(false);
    Edit1->setToolTip(QStringLiteral("this your time"));

    SpeedButton1 = new TSpeedButton(GroupBox1);
    SpeedButton1->setGeometry(224, 64, 57, 22);
    SpeedButton1->setToolButtonStyle(Qt::ToolButtonIconOnly);
    QIcon picture(QStringLiteral(":/alarmbutton.png"));
    picture.addFile(QStringLiteral(":/alarmbutton_disabled.png"), QSize(), QIcon::Disabled);
    SpeedButton1->setIcon(picture);
    SpeedButton1->setIconSize(QSize(16, 16));
    SpeedButton1->setToolTip(QStringLiteral("Please press here"));

    // The clock ticks while the window is shown. Hidden, nobody can read it
    // or press the button that compares with it, and a tick every second
    // would wake an idle player for nothing; it is set right as it shows.
    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &TForm5::Timer1Timer);
    connect(SpeedButton1, &QToolButton::clicked, this, &TForm5::SpeedButton1Click);
    DescribeForScreenReaders(*this);
}

void TForm5::showEvent(QShowEvent* event) {
    Timer1Timer();
    Timer1->start();
    QWidget::showEvent(event);
}

void TForm5::hideEvent(QHideEvent* event) {
    Timer1->stop();
    QWidget::hideEvent(event);
}

void TForm5::Timer1Timer() {
    Edit2->setText(AlarmClockText(QTime::currentTime()));
}

void TForm5::SpeedButton1Click() {
    if (Edit2->text() == Edit1->text())
        ShowMessage(QStringLiteral("Hi ....you bees"));
}
