#include "TestSupport.h"
#include "TestWindows.h"
#include "player/Unit1.h"
#include "playlist/ListBox.h"
#include "playlist/Unit2.h"
#include "trackinfo/Unit4.h"
#include "windows/Unit3.h"
#include "windows/Controls.h"
#include "windows/Unit5.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAbstractSlider>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QScrollBar>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

// The windows as a screen reader and a keyboard user meet them, through Qt's
// accessibility interface and real key presses.
class AccessibilityTest : public QObject {
    Q_OBJECT

    static QString nameOf(QObject* object) {
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(object);
        return face ? face->text(QAccessible::Name) : QString();
    }
    static QAccessible::Role roleOf(QObject* object) {
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(object);
        return face ? face->role() : QAccessible::NoRole;
    }

    // A list's or a view's own scroll bars are parts of it, named with it.
    static bool insideScrollArea(QWidget* w) {
        for (QWidget* up = w->parentWidget(); up && !up->isWindow(); up = up->parentWidget())
            if (qobject_cast<QAbstractScrollArea*>(up))
                return true;
        return false;
    }

    // The controls a user works with: buttons, boxes, bars, lists, views.
    static QList<QWidget*> controlsOf(QWidget* window) {
        QList<QWidget*> controls;
        for (QWidget* w : window->findChildren<QWidget*>()) {
            if (w->window() != window || !w->isVisibleTo(window) || insideScrollArea(w))
                continue;
            if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
                qobject_cast<QComboBox*>(w) || qobject_cast<QAbstractSlider*>(w) ||
                qobject_cast<QProgressBar*>(w) || qobject_cast<TListBox*>(w) ||
                qobject_cast<QTextEdit*>(w))
                controls.append(w);
        }
        return controls;
    }

    // Every control has a name of its own, without the design's padding.
    static void checkNames(QWidget* window) {
        QStringList seen;
        for (QWidget* control : controlsOf(window)) {
            const QString name = nameOf(control);
            const QString what = QString::fromLatin1(control->metaObject()->className()) +
                                 QLatin1Char(' ') + name;
            QVERIFY2(!name.isEmpty(), qPrintable(what));
            QVERIFY2(name == name.trimmed() && !name.contains(QLatin1Char('&')), qPrintable(what));
            QVERIFY2(!seen.contains(name), qPrintable(what));
            seen.append(name);
        }
    }

    // The widgets Tab visits from `first` until it comes round again.
    static QList<QWidget*> tabRound(QWidget* window, QWidget* first) {
        first->setFocus(Qt::TabFocusReason);
        QList<QWidget*> visited{first};
        for (int i = 0; i < 64; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget* now = QApplication::focusWidget();
            if (!now || now == first || now->window() != window)
                break;
            visited.append(now);
        }
        return visited;
    }

private slots:
    void controlsAreNamedAfterWhatTheyDo() {
        TestSupport::MessageRecorder boxes; // an empty list has no file to show
        TestSupport::PlaylistWindow f2;
        TForm1& f1 = f2.mainWindow();
        f2.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f2));

        QCOMPARE(nameOf(f1.Prev), u"Previous"_qs);
        QCOMPARE(nameOf(f1.Play), u"Play"_qs);
        QCOMPARE(nameOf(f1.SpeedButton2), u"Pause"_qs);
        QCOMPARE(nameOf(f1.SpeedButton1), u"Stop"_qs);
        QCOMPARE(nameOf(f1.Next), u"Next"_qs);
        QCOMPARE(nameOf(f1.Open), u"Open"_qs);
        QCOMPARE(nameOf(f1.SpeedButton3), u"Play List"_qs);
        QCOMPARE(nameOf(f1.ScrollBar1), u"Volume"_qs);
        QCOMPARE(nameOf(f1.Bar), u"Seek"_qs);
        checkNames(&f1);
        checkNames(&f2);
        f2.CreateHiddenControls();
        QCOMPARE(nameOf(f2.lirik), u"Lyrics"_qs);

        // The file info fields are told apart by their labels, not by the
        // caption of the box around them.
        auto* info = new TForm4(&f2);
        info->show();
        QCOMPARE(nameOf(info->Title), u"Title"_qs);
        QCOMPARE(nameOf(info->Artist), u"Artist"_qs);
        QCOMPARE(nameOf(info->Comment), u"Comment"_qs);
        checkNames(info);
        info->close();

        TForm5 alarm;
        alarm.show();
        checkNames(&alarm);

        // Windows are frames, dialogs dialogs.
        QCOMPARE(roleOf(&f1), QAccessible::Window);
        QCOMPARE(roleOf(&f2), QAccessible::Window);
        QCOMPARE(roleOf(&alarm), QAccessible::Window);
        TForm3 about;
        QCOMPARE(roleOf(&about), QAccessible::Dialog);
    }

    void tabReachesEveryControlInReadingOrderAndNeverAHiddenOne() {
        TestSupport::MessageRecorder boxes; // an empty list has no file to show
        TestSupport::PlaylistWindow f2;
        TForm1& f1 = f2.mainWindow();
        f2.show();
        f1.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f1));

        const QList<QWidget*> main = tabRound(&f1, f1.SpeedButton5);
        const QList<QWidget*> expected{f1.SpeedButton5, f1.PlayOrder,    f1.ScrollBar1,
                                       f1.Bar,          f1.Prev,         f1.Play,
                                       f1.SpeedButton2, f1.SpeedButton1, f1.Next,
                                       f1.Open,         f1.SpeedButton3, f1.SpeedButton6,
                                       f1.SpeedButton4};
        QCOMPARE(main, expected);

        // The focus shows on a button: it is drawn otherwise than without.
        f1.Play->setFocus(Qt::TabFocusReason);
        const QImage focused = f1.Play->grab().toImage();
        f1.Prev->setFocus(Qt::TabFocusReason);
        QVERIFY(f1.Play->grab().toImage() != focused);

        f2.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f2));
        f2.CreateHiddenControls(); // the lyric view exists, behind the list
        const QList<QWidget*> playlist = tabRound(&f2, f2.ListB);
        QVERIFY(!playlist.contains(f2.lirik));
        QCOMPARE(playlist, (QList<QWidget*>{f2.ListB, f2.Add, f2.Rem, f2.SpeedButton1, f2.List,
                                            f2.SpeedButton2}));
        // Shown over the list, the lyrics are reached too; closed, never.
        f2.AppendEntry("/no/such/song.mp3");
        f2.SetCurrentIndex(0);
        f2.Lyric1Click();
        QVERIFY(tabRound(&f2, f2.ListB).contains(f2.lirik));
        f2.lirik->setFocus();
        f2.Closelyricwindow1Click();
        QCOMPARE(QApplication::focusWidget(), f2.ListB);
        QVERIFY(!tabRound(&f2, f2.ListB).contains(f2.lirik));
    }

    void escapeClosesTheSmallWindows() {
        TestSupport::MessageRecorder boxes; // an empty list has no file to show
        TestSupport::PlaylistWindow f2;
        f2.show();

        QPointer<TForm4> info = new TForm4(&f2);
        info->show();
        QVERIFY(QTest::qWaitForWindowExposed(info.data()));
        info->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(info.data()));
        QTest::keyClick(info.data(), Qt::Key_Escape);
        QTRY_VERIFY(info.isNull() || !info->isVisible());

        TForm5 alarm;
        alarm.show();
        alarm.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&alarm));
        QTest::keyClick(&alarm, Qt::Key_Escape);
        QTRY_VERIFY(!alarm.isVisible());

        bool closed = false;
        QTimer::singleShot(0, [&closed] {
            QWidget* about = QApplication::activeModalWidget();
            if (!about)
                return;
            QTest::keyClick(about, Qt::Key_Escape);
            closed = !about->isVisible();
        });
        f2.About1Click();
        QVERIFY(closed);
    }
};

QTEST_MAIN(AccessibilityTest)
#include "tst_accessibility.moc"
