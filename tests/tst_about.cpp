#include "TestWindows.h"

#include "player/Unit1.h"
#include "playlist/Unit2.h"
#include "windows/Unit3.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QTest>
#include <QTimer>

class AboutTest : public QObject {
    Q_OBJECT

private slots:
    void aboutOpensModalOverThePlaylistWindowAndGoesWhenClosed() {
        TestSupport::PlaylistWindow f2;
        QPointer<TForm3> seen;
        bool modal = false;
        QWidget* owner = nullptr;
        // The window blocks in its own loop: look at it from there, then close it.
        QTimer::singleShot(0, [&] {
            seen = qobject_cast<TForm3*>(QApplication::activeModalWidget());
            if (!seen)
                return;
            modal = seen->isModal();
            owner = seen->parentWidget();
            seen->close();
        });
        f2.About1Click();
        QVERIFY(modal);
        QCOMPARE(owner, &f2);
        QVERIFY(seen.isNull()); // nothing refers to a closed about window
        QVERIFY(f2.findChildren<TForm3*>().isEmpty());
    }

    void aboutShowsTitleVersionDateContactAndPlace() {
        TForm3 about;
        QCOMPARE(about.windowTitle(), QStringLiteral("About Korvu"));
        QCOMPARE(about.size(), QSize(363, 124));
        QCOMPARE(about.palette().color(QPalette::Window), QColor(255, 251, 240));
        QCOMPARE(about.StaticText1->text(), QStringLiteral("Tolvane"));
        QVERIFY(about.StaticText1->font().bold());
        QCOMPARE(about.StaticText1->font().pointSize(), 14);
        QCOMPARE(about.StaticText1->palette().color(QPalette::WindowText), QColor(0, 0, 128));
        QCOMPARE(about.Label3->text(), QStringLiteral("Version 1.0"));
        QCOMPARE(about.Label2->text(), QStringLiteral("01/05/2013"));
        QCOMPARE(about.Label5->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QVERIFY(about.Label5->text().contains(QLatin1Char('@')));
        QVERIFY(!about.Label1->text().isEmpty());
        QCOMPARE(about.Image1->geometry(), QRect(4, 4, 61, 53));
        QVERIFY(about.Image1->hasScaledContents());
        if (QFile::exists(QStringLiteral(":/about.jpg")))
            QVERIFY(!about.Image1->pixmap().isNull());
    }
};

QTEST_MAIN(AboutTest)
#include "tst_about.moc"
