#include "TestSupport.h"

#include "windows/Controls.h"
#include "windows/Unit5.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

class AlarmTest : public QObject {
    Q_OBJECT

private slots:
    void clockShowsTheLocalesLongTimeWithSecondsAndNoZone() {
        const QTime time(7, 5, 9);
        QCOMPARE(AlarmClockText(time, QLocale(QLocale::English, QLocale::UnitedStates)),
                 QStringLiteral("7:05:09 AM"));
        QCOMPARE(AlarmClockText(time, QLocale(QLocale::German, QLocale::Germany)),
                 QStringLiteral("07:05:09"));
        QCOMPARE(AlarmClockText(QTime(19, 0, 0), QLocale::c()), QStringLiteral("19:00:00"));
    }

    void typedTimeEqualToTheClockGreets() {
        TForm5 f5;
        TestSupport::MessageRecorder recorder;
        f5.Timer1Timer();
        QVERIFY(!f5.Edit2->text().isEmpty());
        f5.Edit1->setText(f5.Edit2->text());
        QTest::mouseClick(f5.SpeedButton1, Qt::LeftButton);
        QCOMPARE(recorder.messages, QStringList{QStringLiteral("Hi ....you bees")});
    }

    void anyOtherTextShowsNothing_data() {
        QTest::addColumn<QString>("clock");
        QTest::addColumn<QString>("typed");
        // clang-format off
        QTest::newRow("without seconds") << "07:05:09" << "07:05";
        QTest::newRow("other separator") << "07:05:09" << "07.05.09";
        QTest::newRow("without leading zero") << "07:05:09" << "7:05:09";
        QTest::newRow("other case") << "7:05:09 AM" << "7:05:09 am";
        QTest::newRow("trailing blank") << "07:05:09" << "07:05:09 ";
        QTest::newRow("empty after a tick") << "07:05:09" << "";
        // clang-format on
    }
    void anyOtherTextShowsNothing() {
        QFETCH(QString, clock);
        QFETCH(QString, typed);
        TForm5 f5;
        TestSupport::MessageRecorder recorder;
        f5.Edit2->setText(clock);
        f5.Edit1->setText(typed);
        f5.SpeedButton1Click();
        QVERIFY(recorder.messages.isEmpty());
    }

    void reachingTheTypedTimeWithoutPressingShowsNothing() {
        TForm5 f5;
        TestSupport::MessageRecorder recorder;
        f5.Edit1->setText(AlarmClockText(QTime::currentTime()));
        f5.Timer1Timer();
        QVERIFY(recorder.messages.isEmpty());
    }

    // Hidden, nobody can read the clock or press the button, so it does not
    // wake the player; it tells the time from the moment it shows.
    void clockTicksWhileShownFromItsFirstMomentAndClosingOnlyHides() {
        TForm5 f5;
        TestSupport::MessageRecorder recorder;
        QVERIFY(!f5.isVisible());
        QVERIFY(!f5.Timer1->isActive());
        f5.show();
        QVERIFY(f5.Timer1->isActive());
        QCOMPARE(f5.Timer1->interval(), 1000);
        QVERIFY(!f5.Edit2->text().isEmpty());
        f5.SpeedButton1Click(); // an empty time never matches a clock that has ticked
        QVERIFY(recorder.messages.isEmpty());
        QVERIFY(f5.close());
        QVERIFY(!f5.isVisible());
        QVERIFY(!f5.Timer1->isActive());
        f5.show();
        QVERIFY(f5.Timer1->isActive());
    }

    void layoutCarriesItsCaptionsAndHints() {
        TForm5 f5;
        f5.show();
        QCOMPARE(f5.windowTitle(), QStringLiteral("Alarm"));
        QCOMPARE(f5.size(), QSize(345, 139));
        QCOMPARE(f5.Panel1->geometry(), f5.rect()); // fills the client area
        QCOMPARE(f5.Panel1->palette().color(QPalette::Window), QColor(187, 248, 120));
        QCOMPARE(f5.GroupBox1->title(), QStringLiteral("Alarm System"));
        QCOMPARE(f5.GroupBox1->geometry(), QRect(24, 16, 305, 105));
        QCOMPARE(f5.Label1->text(), QStringLiteral("Please enter your time:!!"));
        QCOMPARE(f5.Edit1->toolTip(), QStringLiteral("this your time"));
        QCOMPARE(f5.SpeedButton1->toolTip(), QStringLiteral("Please press here"));
        QVERIFY(f5.SpeedButton1->text().isEmpty());
        QVERIFY(!f5.Edit2->isReadOnly());
    }
};

QTEST_MAIN(AlarmTest)
#include "tst_alarm.moc"
