// The bad-file scan and the playback fallbacks, with real files.

#include "TestSupport.h"
#include "TestWindows.h"

#include "platform/DesktopServices.h"
#include "windows/Dialogs.h"
#include "player/media/MediaPlayer.h"
#include "player/Unit1.h"
#include "playlist/ListBox.h"
#include "playlist/core/Playlist.h"
#include "playlist/Unit2.h"
#include "windows/Controls.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <memory>

using TestSupport::Media;

// Notes what the scan's labels show each time the scan lets events through.
class ScanWatcher : public QObject {
public:
    explicit ScanWatcher(TForm2* form) : form_(form) {
        timer_.setInterval(0);
        connect(&timer_, &QTimer::timeout, this, [this] {
            if (!form_->isScanning())
                return;
            const QString shown = form_->Label1->text() + '|' + form_->Label2->text();
            if (seen.isEmpty() || seen.last() != shown)
                seen << shown;
            if (onStep)
                onStep();
        });
        timer_.start();
    }
    QStringList seen;
    std::function<void()> onStep;

private:
    TForm2* form_;
    QTimer timer_;
};

class ScanTest : public QObject, TestSupport::PlayingWindows {
    Q_OBJECT

    // A fresh folder for each test, so that no test finds another's files.
    std::unique_ptr<QTemporaryDir> tmp;

    // A copy of a test file under a name of its own, so that entries differ.
    QByteArray copy(const QString& media, const QString& name) {
        const QString target = tmp->filePath(name);
        QFile::remove(target);
        QFile::copy(QFile::decodeName(Media(media)), target);
        return QFile::encodeName(target);
    }
    QByteArray missing(const QString& name) { return QFile::encodeName(tmp->filePath(name)); }
    QList<QByteArray> entries() const {
        QList<QByteArray> out;
        for (const QByteArray& p : form2->Lists->Paths())
            out << p;
        return out;
    }

private slots:
    void init() {
        if (TestSupport::MediaDir().isEmpty())
            QSKIP("test media not available");
        if (!TestSupport::MediaDeviceWorks())
            QSKIP("media device not available");
        tmp = std::make_unique<QTemporaryDir>();
        openWindows();
    }
    void cleanup() {
        SetDialogStandIn({});
        closeWindows();
    }

    void fourGoodEntriesShowEachNameAndAQuarterMore() {
        load({copy("tone.wav", "a.wav"), copy("tone.wav", "b.wav"), copy("tone.wav", "c.wav"),
              copy("tone.wav", "d.wav")});
        ScanWatcher watcher(form2.get());
        form2->ClearBadFiles1Click();
        QCOMPARE(watcher.seen, (QStringList{"d.wav|25%", "c.wav|50%", "b.wav|75%", "a.wav|100%"}));
        QCOMPARE(form2->windowTitle(), QStringLiteral("Play List: 4 items"));
        QVERIFY(form2->GroupBox1->isHidden());
        QVERIFY(form2->TestPlayer == nullptr);
    }

    void lastEntryBadCountsTheRestFromWhatIsLeft() {
        load({copy("tone.wav", "a.wav"), copy("tone.wav", "b.wav"), copy("tone.wav", "c.wav"),
              copy("random.mp3", "d.mp3")});
        ScanWatcher watcher(form2.get());
        form2->ClearBadFiles1Click();
        QCOMPARE(watcher.seen, (QStringList{"d.mp3|25%", "c.wav|34%", "b.wav|67%", "a.wav|100%"}));
        QCOMPARE(form2->windowTitle(), QStringLiteral("Play List: 3 items"));
        QCOMPARE(form2->Lists->DisplayLine(2), QStringLiteral("3. c.wav"));
    }

    void everyKindOfBrokenEntryIsRemoved() {
        const QByteArray good = copy("tone.mp3", "good.mp3");
        load({missing("gone.mp3"), Media("text.avi"), QByteArray(), good, Media("empty.mp3"),
              Media("truncated.mp3"), Media("random.mp3"), Media("empty.wav"),
              QFile::encodeName(tmp->path())});
        form2->ClearBadFiles1Click();
        QCOMPARE(entries(), (QList<QByteArray>{good}));
        QCOMPARE(form2->Lists->DisplayLine(0), QStringLiteral("1. good.mp3"));
    }

    void emptyAndRandomFilesOfEveryExtensionAreRemoved() {
        QList<QByteArray> broken;
        for (const char* ext : {"mp3", "avi", "mpg", "mid", "rmi", "wav", "wma", "mpeg"}) {
            QFile empty(tmp->filePath(QStringLiteral("empty.%1").arg(ext)));
            QVERIFY(empty.open(QIODevice::WriteOnly));
            empty.close();
            broken << QFile::encodeName(empty.fileName());
            broken << copy("random.mp3", QStringLiteral("noise.%1").arg(ext));
        }
        broken << Media("truncated.mp3") << Media("truncated.wav") << Media("truncated.mid");
        const QByteArray good = copy("tune.mid", "good.mid");
        load(broken + QList<QByteArray>{good});
        form2->ClearBadFiles1Click();
        QCOMPARE(entries(), (QList<QByteArray>{good}));
    }

    void stopLeavesTheShownEntryAndThoseBeforeItUntried() {
        load({missing("1.mp3"), missing("2.mp3"), missing("3.mp3"), missing("4.mp3"),
              missing("5.mp3")});
        ScanWatcher watcher(form2.get());
        watcher.onStep = [this] {
            if (form2->Label1->text() == QLatin1String("3.mp3"))
                form2->Button1->click();
        };
        form2->ClearBadFiles1Click();
        QCOMPARE(entries(),
                 (QList<QByteArray>{missing("1.mp3"), missing("2.mp3"), missing("3.mp3")}));
        // The next scan starts afresh.
        watcher.onStep = nullptr;
        form2->ClearBadFiles1Click();
        QCOMPARE(form2->EntryCount(), 0);
    }

    void emptyPlaylistShowsAndHidesTheBox() {
        form2->ClearBadFiles1Click();
        QVERIFY(form2->GroupBox1->isHidden());
        QCOMPARE(form2->windowTitle(), QStringLiteral("Play List: 0 items"));
    }

    void loadedFileIsReopenedAtItsPositionInTheStateItWasIn_data() {
        QTest::addColumn<QString>("state");
        for (const char* state : {"playing", "paused", "stopped", "closed"})
            QTest::newRow(state) << QString::fromLatin1(state);
    }
    void loadedFileIsReopenedAtItsPositionInTheStateItWasIn() {
        QFETCH(QString, state);
        const bool playing = state == QLatin1String("playing"),
                   paused = state == QLatin1String("paused");
        const QByteArray song = copy("long.mp3", "song.mp3");
        load({copy("tone.wav", "a.wav"), song, missing("gone.wav")});
        form2->SetCurrentIndex(1);
        form1->PlayCurrentEntry();
        QTest::qWait(1500);
        if (paused)
            form1->SpeedButton2Click();
        if (!playing && !paused)
            form1->SpeedButton1Click();
        if (state == QLatin1String("closed"))
            form1->MP->CloseMedia();
        const TMPModes mode = form1->MP->MediaMode();
        const qint64 before = form1->MP->MediaPosition();
        QElapsedTimer scan;
        scan.start();
        form2->ClearBadFiles1Click();
        // A playing track plays on while the others are tried.
        const qint64 playedOn = playing ? scan.elapsed() : 0;
        QCOMPARE(entries(), (QList<QByteArray>{copy("tone.wav", "a.wav"), song}));
        // The loaded file's row is highlighted; the current entry is untouched.
        QCOMPARE(form2->Lists->HighlightedRow(), 1);
        QCOMPARE(form2->CurrentIndex(), 1);
        QCOMPARE(form1->MP->MediaMode(), mode);
        const qint64 after = form1->MP->MediaPosition();
        QVERIFY2(after > before - 600 && after < before + playedOn + 600,
                 qPrintable(QStringLiteral("%1 -> %2").arg(before).arg(after)));
        if (state == QLatin1String("closed")) {
            QVERIFY(!form1->MP->isOpen());
            return;
        }
        QTest::qWait(600);
        if (playing) {
            QVERIFY(form1->MP->MediaPosition() > before + 300);
            return;
        }
        QVERIFY(qAbs(form1->MP->MediaPosition() - before) < 600); // silent
        if (paused) {
            form1->SpeedButton2Click(); // goes on from where it was paused
            QTRY_VERIFY_WITH_TIMEOUT(form1->MP->MediaPosition() > before + 300, 3000);
            QVERIFY(form1->MP->MediaPosition() < before + 2500);
        }
    }

    void loadedFileGoneDuringTheScanShowsNoErrorsAndPlaybackGoesOn() {
        // The playing file disappears; while a slow scan runs the timer keeps
        // ticking on a device that could not reopen it.
        const QByteArray song = copy("long.mp3", "song.mp3");
        const QByteArray a = copy("tone.wav", "a.wav");
        QList<QByteArray> list{a};
        for (int i = 0; i < 40; ++i)
            list << missing(QStringLiteral("gone%1.mp3").arg(i));
        list << song;
        load(list);
        form2->SetCurrentIndex(41);
        form1->PlayCurrentEntry();
        QTest::qWait(300);
        QFile::remove(QFile::decodeName(song));
        ScanWatcher watcher(form2.get());
        watcher.onStep = [] { QThread::msleep(40); };
        form2->ClearBadFiles1Click();
        QCOMPARE(entries(), (QList<QByteArray>{a}));
        QTRY_COMPARE_WITH_TIMEOUT(form1->MP->FileName, a, 3000);
        QVERIFY(form1->isPlaying());
        // cleanup() checks that no error box was shown
    }

    void withNothingLoadedNoRowIsHighlighted() {
        load({copy("tone.wav", "a.wav"), copy("tone.wav", "b.wav")});
        form2->SetCurrentIndex(1);
        form2->ClearBadFiles1Click();
        QCOMPARE(form2->Lists->HighlightedRow(), -1);
    }

    void listCommandsAreOffWhileAScanRuns() {
        load({missing("1.mp3"), missing("2.mp3"), missing("3.mp3")});
        ScanWatcher watcher(form2.get());
        int nested = 0;
        watcher.onStep = [&] {
            QVERIFY(!form2->ListB->isEnabled());
            QVERIFY(!form2->Rem->isEnabled());
            // A second "Clear Bad Files" inside the first is ignored.
            const int before = form2->EntryCount();
            form2->ClearBadFiles1Click();
            nested += form2->EntryCount() != before;
        };
        form2->ClearBadFiles1Click();
        QCOMPARE(nested, 0);
        QCOMPARE(form2->EntryCount(), 0);
        QVERIFY(form2->ListB->isEnabled());
        QVERIFY(form2->Rem->isEnabled());
    }

    void theListHasTheKeyboardAgainAfterTheScan() {
        load({missing("1.mp3"), copy("tone.wav", "a.wav")});
        form2->SetCurrentIndex(0);
        form2->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form2.get()));
        form2->ListB->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), form2->ListB);
        form2->ClearBadFiles1Click();
        QCOMPARE(entries(), QList<QByteArray>{copy("tone.wav", "a.wav")});
        QCOMPARE(QApplication::focusWidget(), form2->ListB);
        // "Go to file's folder" by its key, with the current entry the scan left.
        form2->SetCurrentIndex(0);
        QStringList requests;
        SetDesktopRecorder([&](const QString& action, const QByteArray&) { requests << action; });
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_G);
        SetDesktopRecorder(nullptr);
        QCOMPARE(requests, QStringList{QStringLiteral("open-folder")});
    }

    // --- fallbacks ---

    void playOnEmptyPlaylistOffersTheOpenDialogAndStartsNothing() {
        int offered = 0;
        DialogStandIn standIn;
        standIn.open = [&](QFileDialog*) {
            ++offered;
            return std::optional<std::vector<QByteArray>>(
                std::vector<QByteArray>{Media("tone.wav"), Media("tone.mp3")});
        };
        SetDialogStandIn(standIn);
        form1->PlayClick();
        QCOMPARE(offered, 1);
        QCOMPARE(form2->windowTitle(), QStringLiteral("Play List: 2 items"));
        QCOMPARE(form2->Lists->DisplayLine(1), QStringLiteral("2. tone.mp3"));
        QCOMPARE(form2->CurrentIndex(), 0);
        QVERIFY(!form1->isLoaded());
    }

    void failedOpenCleansThePlaylistAndPlaysOn_data() {
        QTest::addColumn<int>("current");
        QTest::addColumn<QString>("expected");
        // The first entry that follows the failed one plays, past the other
        // entries the scan removes; after the last entry comes the first.
        QTest::newRow("current removed") << 1 << "c.mp3";
        QTest::newRow("last entry removed") << 3 << "a.wav";
        QTest::newRow("no current entry") << -1 << "a.wav";
    }
    void failedOpenCleansThePlaylistAndPlaysOn() {
        QFETCH(int, current);
        QFETCH(QString, expected);
        const QByteArray a = copy("tone.wav", "a.wav"), c = copy("tone.mp3", "c.mp3");
        load({a, missing("b.wav"), c, Media("random.mp3")});
        form2->SetCurrentIndex(current);
        form1->PlayCurrentEntry();
        QCOMPARE(entries(), (QList<QByteArray>{a, c}));
        QCOMPARE(form2->windowTitle(), QStringLiteral("Play List: 2 items"));
        QCOMPARE(form1->MP->FileName, QFile::encodeName(tmp->filePath(expected)));
        QVERIFY(form1->isPlaying());
        QCOMPARE(form1->Panel1->text(), tmp->filePath(expected));
        QTRY_COMPARE_WITH_TIMEOUT(form1->Panel1->text(), expected + QStringLiteral(" *** "), 1000);
    }

    void tickWithoutDeviceRemovesTheHighlightedRowAndPlaysTheFirst() {
        const QByteArray a = copy("tone.wav", "a.wav"), b = copy("tone.wav", "b.wav"),
                         c = copy("tone.wav", "c.wav"), d = copy("tone.wav", "d.wav");
        load({a, b, c, d});
        form2->SetCurrentIndex(2); // the third row highlighted
        form1->Timer1->start();    // a tick with no device open
        QTRY_COMPARE_WITH_TIMEOUT(form2->EntryCount(), 3, 2000);
        QCOMPARE(entries(), (QList<QByteArray>{a, b, d}));
        QCOMPARE(form2->windowTitle(), QStringLiteral("Play List: 3 items"));
        QCOMPARE(form1->MP->FileName, a);
        QVERIFY(form1->isPlaying());
    }

    void allEntriesBadEndsIdleWithoutErrors() {
        load({missing("1.mp3"), Media("random.mp3"), Media("empty.wav")});
        form2->SetCurrentIndex(0);
        form1->PlayCurrentEntry();
        QCOMPARE(form2->EntryCount(), 0);
        QVERIFY(!form1->isLoaded());
        QVERIFY(!form1->isPlaying());
        QTest::qWait(1500); // no tick keeps failing
        QVERIFY(!form1->isLoaded());
        QCOMPARE(form1->Panel2->text(), QStringLiteral("- - : - -"));
    }

    void entryFailingAfterTheScanIsSkippedWithoutEndlessRecovery() {
        // The only good file disappears while the scan lets events through:
        // the recovery tries what is left once and stops.
        const QByteArray a = copy("tone.wav", "a.wav");
        load({missing("gone.wav"), a});
        ScanWatcher watcher(form2.get());
        watcher.onStep = [&] {
            if (form2->Label1->text() == QLatin1String("gone.wav"))
                QFile::remove(QFile::decodeName(a));
        };
        form2->SetCurrentIndex(0);
        form1->PlayCurrentEntry();
        QVERIFY(!form1->isLoaded());
        QCOMPARE(form1->Panel1->text(), QStringLiteral("=> Korvu Player <="));
    }
};

QTEST_MAIN(ScanTest)
#include "tst_scan.moc"
