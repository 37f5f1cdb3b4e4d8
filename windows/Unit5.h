#pragma once

#include <QLocale>
#include <QTime>
#include <QWidget>

class QGroupBox;
class QLabel;
class QLineEdit;
class QTimer;
class TSpeedButton;

// The time of day as the alarm clock shows it: the locale's long time
// format (hours, minutes and seconds), without the time zone that some
// locales append to it.
QString AlarmClockText(const QTime& time, const QLocale& locale = QLocale::system());

// The alarm window: a clock that ticks every second and a box for a time;
// its button greets when the two texts match. Closing it only hides it.
class TForm5 : public QWidget {
    Q_OBJECT
public:
    explicit TForm5(QWidget* parent = nullptr);

    QWidget* Panel1 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QLineEdit* Edit2 = nullptr; // the clock
    QLabel* Label1 = nullptr;
    QLineEdit* Edit1 = nullptr; // the user's time
    TSpeedButton* SpeedButton1 = nullptr;
    QTimer* Timer1 = nullptr;

    void Timer1Timer();
    void SpeedButton1Click();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
};
