// The playback controller with real files, the real device and real timers.

#include "TestSupport.h"
#include "TestWindows.h"

#include "player/media/MediaPlayer.h"
#include "player/Unit1.h"
#include "playlist/core/Playlist.h"
#include "playlist/Unit2.h"
#include "windows/Controls.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <memory>
#include <unistd.h>

using TestSupport::Media;

// The oldest child that plays a file for the device (the younger one waits
// for the next file).
static pid_t PlayingChild() {
    pid_t oldest = 0;
    qint64 oldestStart = 0;
    const QByteArray self = QByteArray::number(getpid());
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry)),
            command(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (!entry[0].isDigit() || !stat.open(QIODevice::ReadOnly) ||
            !command.open(QIODevice::ReadOnly) || !command.readAll().contains("--play"))
            continue;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        const qint64 started = fields.value(19).toLongLong();
        if (fields.value(1) == self && (!oldest || started < oldestStart)) {
            oldest = pid_t(entry.toInt());
            oldestStart = started;
        }
    }
    return oldest;
}

class ControllerTest : public QObject, TestSupport::PlayingWindows {
    Q_OBJECT

private slots:
    void init() {
        if (TestSupport::MediaDir().isEmpty() || !TestSupport::MediaDeviceWorks())
            QSKIP("test media or media device not available");
        openWindows();
    }
    void cleanup() { closeWindows(); }

    void playWithoutHighlightStartsFirstEntryAtOnce() {
        load({Media("tone.wav"), Media("tone.mp3")});
        form2->SetCurrentIndex(1);
        form2->RenumberList(); // removes the highlight, entry 1 stays current
        form1->PlayClick();
        QCOMPARE(form2->CurrentIndex(), 0);
        QCOMPARE(form1->MP->FileName, Media("tone.wav"));
        QVERIFY(form1->isLoaded());
        QVERIFY(form1->isPlaying());
        QTRY_COMPARE_WITH_TIMEOUT(form1->Panel1->text(), QStringLiteral("tone.wav"), 1000);
    }

    void playAfterClickOnRowStartsThatRowAfterTheDelay() {
        load({Media("tone.wav"), Media("tone.mp3")});
        form2->SetCurrentIndex(1);
        form1->PlayClick();
        QCOMPARE(form1->MP->FileName, Media("tone.mp3"));
        QCOMPARE(form1->ProgressBar1->value(), 100);
    }

    void timePanelsCountOnceASecondInBothWindows() {
        load({Media("long.mp3")});
        form1->PlayClick();
        QTRY_COMPARE_WITH_TIMEOUT(form1->Panel2->text(), QStringLiteral("00:01 "), 2500);
        QCOMPARE(form2->Panel1->text(), form1->Panel2->text());
        form1->Panel2Click(); // remaining time from the next tick on
        QTRY_VERIFY_WITH_TIMEOUT(form1->Panel2->text().startsWith(QStringLiteral("- 00:")), 1500);
        QCOMPARE(form2->Panel1->text(), form1->Panel2->text());
        form2->Panel1Click();
        QTRY_VERIFY_WITH_TIMEOUT(!form1->Panel2->text().startsWith('-'), 1500);
    }

    void pauseHoldsThePositionAndPauseAgainGoesOn() {
        load({Media("long.mp3")});
        form1->PlayClick();
        QTest::qWait(1300);
        form1->SpeedButton2Click();
        QVERIFY(form1->isPaused());
        QVERIFY(!form1->isPlaying());
        QVERIFY(form1->isLoaded());
        const qint64 held = form1->MP->MediaPosition();
        QTest::qWait(1200);
        QVERIFY(qAbs(form1->MP->MediaPosition() - held) < 100);
        form1->SpeedButton2Click();
        QVERIFY(form1->isPlaying());
        QTRY_VERIFY_WITH_TIMEOUT(form1->MP->MediaPosition() > held + 300, 2000);
        // The resume seeks to the bar, which the last tick set before the pause.
        QVERIFY(form1->MP->MediaPosition() < held + 2000);
    }

    void seekKeyWhilePausedMovesFiveSecondsAndStaysPaused() {
        load({Media("long.mp3")});
        form1->PlayClick();
        QTest::qWait(600);
        form1->SpeedButton2Click();
        const qint64 before = form1->MP->MediaPosition();
        form1->Pos1Click();
        QVERIFY(form1->isPaused());
        QVERIFY(qAbs(form1->MP->MediaPosition() - (before + 5000)) < 250);
        QTest::qWait(500);
        QVERIFY(qAbs(form1->MP->MediaPosition() - (before + 5000)) < 250);
        // After the next tick the bar holds the new position, and Play goes on from it.
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(form1->Bar->value() - (before + 5000)) < 250, 1500);
        form1->PlayClick();
        QVERIFY(form1->isPlaying());
        QTRY_VERIFY_WITH_TIMEOUT(form1->MP->MediaPosition() > before + 5200, 1500);
        form1->PosMin1Click();
        QVERIFY(form1->MP->MediaPosition() < before + 1500);
    }

    void resumeRightAfterATrackChangeStartsTheNewTrackAtItsStart() {
        load({Media("long.mp3"), Media("long.mp3")});
        form1->PlayClick();
        QTRY_VERIFY_WITH_TIMEOUT(form1->Bar->value() >= 2000, 4000);
        form2->SetCurrentIndex(1);
        form1->PlayCurrentEntry();
        QCOMPARE(form1->Bar->value(), 0);
        QCOMPARE(form1->Panel2->text(), QStringLiteral("00:00 "));
        QCOMPARE(form2->Panel1->text(), QStringLiteral("00:00 "));
        form1->SpeedButton2Click();
        form1->SpeedButton2Click();
        QVERIFY(form1->isPlaying());
        QVERIFY2(form1->MP->MediaPosition() < 1500,
                 qPrintable(QString::number(form1->MP->MediaPosition())));
    }

    void seekKeyWhilePausedAtTheEndStaysPausedUntilResumed() {
        load({Media("long.mp3"), Media("tone.wav")});
        form1->PlayClick();
        QTest::qWait(300);
        form1->SpeedButton2Click();
        for (int i = 0; i < 3; ++i) // 5, 10, then the end of 12 s
            form1->Pos1Click();
        QCOMPARE(form1->MP->MediaPosition(), form1->MP->MediaLength());
        QTest::qWait(2300); // two ticks see the end
        QVERIFY(form1->isPaused());
        QCOMPARE(form1->Panel1->text(), QStringLiteral("Paused"));
        QCOMPARE(form1->MP->FileName, Media("long.mp3"));
        QVERIFY(form1->MP->MediaMode() != TMPModes::mpPlaying);
        form1->SpeedButton2Click(); // plays on: the end, then the next entry
        QTRY_COMPARE_WITH_TIMEOUT(form1->MP->FileName, Media("tone.wav"), 4000);
        QVERIFY(form1->isPlaying());
        QCOMPARE(form1->MP->MediaMode(), TMPModes::mpPlaying);
    }

    void trackNamedPausedPlaysAndPausesLikeAnyOther() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Paused"));
        QVERIFY(QFile::copy(QFile::decodeName(Media("long.mp3")), path));
        load({QFile::encodeName(path)});
        form1->PlayClick();
        QTRY_COMPARE_WITH_TIMEOUT(form1->Panel1->text(), QStringLiteral("Paused"), 1000);
        QVERIFY(!form1->isPaused());
        form1->SpeedButton2Click();
        QVERIFY(form1->isPaused());
        QCOMPARE(form1->MP->MediaMode(), TMPModes::mpPaused);
        form1->SpeedButton2Click();
        QVERIFY(!form1->isPaused());
        QCOMPARE(form1->MP->MediaMode(), TMPModes::mpPlaying);
    }

    void stopShowsIdleTextsAndKeepsTheDeviceOpen() {
        load({Media("long.mp3")});
        form1->PlayClick();
        QTRY_COMPARE_WITH_TIMEOUT(form1->Panel6->text().endsWith('%'), true, 1500);
        form1->SpeedButton1Click();
        QVERIFY(!form1->isLoaded());
        QVERIFY(!form1->isPlaying());
        QCOMPARE(form1->Panel1->text(), QStringLiteral("=> Korvu Player <="));
        QCOMPARE(form1->Panel2->text(), QStringLiteral("- - : - -"));
        QCOMPARE(form2->Panel1->text(), QStringLiteral("- - : - -"));
        QCOMPARE(form1->Bar->value(), 0);
        QVERIFY(form1->MP->isOpen());
        // Stop and the seek keys while idle change nothing.
        const QString panel6 = form1->Panel6->text();
        form1->SpeedButton1Click();
        form1->Pos1Click();
        form1->SpeedButton2Click();
        QCOMPARE(form1->Panel6->text(), panel6);
        QCOMPARE(form1->Panel1->text(), QStringLiteral("=> Korvu Player <="));
    }

    void nextAndPreviousWrapAroundAndPlay() {
        load({Media("tone.wav"), Media("tone.mp3"), Media("tone.wma")});
        form2->SetCurrentIndex(2);
        form1->NextClick();
        QCOMPARE(form2->CurrentIndex(), 0);
        QCOMPARE(form1->MP->FileName, Media("tone.wav"));
        form1->PrevClick();
        QCOMPARE(form2->CurrentIndex(), 2);
        QCOMPARE(form1->MP->FileName, Media("tone.wma"));
        form2->SetCurrentIndex(-1);
        form1->NextClick();
        QCOMPARE(form2->CurrentIndex(), 0);
        form2->SetCurrentIndex(-1);
        form1->PrevClick();
        QCOMPARE(form2->CurrentIndex(), 0);
    }

    void endOfTrackUnderContinuousPlaysTheNextAndWraps() {
        load({Media("tone.wav"), Media("tone.mp3")});
        form2->SetCurrentIndex(1);
        form1->PlayCurrentEntry();
        QTRY_COMPARE_WITH_TIMEOUT(form1->MP->FileName, Media("tone.wav"), 6000);
        QCOMPARE(form2->CurrentIndex(), 0);
        QVERIFY(form1->isPlaying());
    }

    void aWmaWhosePlayingProcessDiesEndsAndTheNextPlays() {
        load({Media("tone.wma"), Media("tone.wav")});
        form2->SetCurrentIndex(0);
        form1->PlayCurrentEntry();
        QTRY_VERIFY_WITH_TIMEOUT(form1->MP->MediaPosition() > 300, 6000);
        const pid_t playing = PlayingChild();
        QVERIFY(playing > 0);
        ::kill(playing, SIGKILL);
        QTRY_COMPARE_WITH_TIMEOUT(form1->MP->FileName, Media("tone.wav"), 6000);
        QVERIFY(form1->isPlaying());
        QTRY_VERIFY_WITH_TIMEOUT(form1->MP->MediaPosition() > 300, 6000);
    }

    void endOfTrackUnderRepeatPlaysTheSameAgain() {
        load({Media("tone.wav"), Media("tone.mp3")});
        form1->Repeat1Click();
        QCOMPARE(form1->PlayOrder->currentText(), QStringLiteral("Rep"));
        form2->SetCurrentIndex(0);
        form1->PlayCurrentEntry();
        QTRY_VERIFY_WITH_TIMEOUT(form1->MP->MediaPosition() > 2000, 4000);
        QTRY_VERIFY_WITH_TIMEOUT(form1->MP->MediaPosition() < 1500, 4000);
        QCOMPARE(form2->CurrentIndex(), 0);
        QCOMPARE(form1->MP->FileName, Media("tone.wav"));
        QVERIFY(form1->isPlaying());
    }

    void endOfTrackUnderShufflePlaysARandomEntry() {
        load({Media("tone.wav")});
        form1->Shuffle1Click();
        form2->SetCurrentIndex(0);
        form1->PlayCurrentEntry();
        QTRY_VERIFY_WITH_TIMEOUT(form1->MP->MediaPosition() > 2000, 4000);
        QTRY_VERIFY_WITH_TIMEOUT(form1->MP->MediaPosition() < 1500, 4000);
        QCOMPARE(form2->CurrentIndex(), 0);
        QVERIFY(form1->isPlaying());
        form1->Continuous1Click();
        QCOMPARE(form1->PlayOrderIndex(), 0);
    }

    void randomTrackDrawsEveryEntryTheLastIncluded() {
        load({Media("tone.wav"), Media("tone.mp3")});
        QSet<int> drawn;
        for (int i = 0; i < 40 && drawn.size() < 2; ++i) {
            form1->PlayShuffle1Click();
            drawn << form2->CurrentIndex();
        }
        QCOMPARE(drawn, (QSet<int>{0, 1}));
    }

    void seekBarClickAfterStopPlaysWithoutMarquee() {
        load({Media("long.mp3")});
        form1->PlayClick();
        QTest::qWait(300);
        form1->SpeedButton1Click();
        form1->BarMouseDown(Qt::LeftButton, 100);
        QVERIFY(form1->isLoaded());
        QVERIFY(!form1->isPlaying());
        QTRY_VERIFY_WITH_TIMEOUT(form1->MP->MediaMode() == TMPModes::mpPlaying, 1000);
        form1->SpeedButton2Click(); // Pause does nothing in this state
        QCOMPARE(form1->MP->MediaMode(), TMPModes::mpPlaying);
    }
};

QTEST_MAIN(ControllerTest)
#include "tst_controller.moc"
