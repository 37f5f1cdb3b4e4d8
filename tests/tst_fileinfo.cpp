#include "TestSupport.h"
#include "TestWindows.h"

#include "player/media/MediaPlayer.h"
#include "player/Unit1.h"
#include "playlist/core/Playlist.h"
#include "playlist/Unit2.h"
#include "trackinfo/Unit4.h"
#include "windows/Controls.h"

#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdio>

namespace {

// A file of some bytes followed by an ID3v1 tag with the given title and
// genre byte 17 ("Rock").
QByteArray taggedFile(const QByteArray& title) {
    QByteArray tag = "TAG" + QByteArray(125, '\0');
    tag.replace(3, title.size(), title);
    tag[127] = char(17);
    return QByteArray(1000, 'x') + tag;
}

using TestSupport::WriteFile;

QList<TForm4*> infoWindows(TForm2& f2) {
    return f2.findChildren<TForm4*>();
}

void deleteClosedWindows() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace

class FileInfoTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QList<QByteArray> paths; // three tagged files "One", "Two", "Three"

    void fill(TForm2& f2) {
        f2.ClearEntries();
        for (const QByteArray& p : paths)
            f2.AppendEntry(p);
        f2.RenumberList();
    }

private slots:
    void initTestCase() {
        for (const QByteArray& title :
             {QByteArray("One"), QByteArray("Two"), QByteArray("Three")}) {
            const QByteArray path = QFile::encodeName(dir.path()) + '/' + title + ".mp3";
            WriteFile(path, taggedFile(title));
            paths << path;
        }
    }

    void showsPathAndTagOfTheCurrentEntryWithoutBlocking() {
        TestSupport::PlaylistWindow f2;
        fill(f2);
        f2.SetCurrentIndex(1);
        f2.Viewfileinfo1Click();

        QCOMPARE(infoWindows(f2).size(), 1);
        TForm4* info = infoWindows(f2).first();
        QVERIFY(info->isVisible());
        QVERIFY(!info->isModal());
        QCOMPARE(info->parent(), &f2);
        QCOMPARE(info->windowTitle(), QStringLiteral("Mp3 File Info"));
        QCOMPARE(info->size(), QSize(272, 234));
        QCOMPARE(info->Edit7->text(), QFile::decodeName(paths[1]));
        QCOMPARE(info->Title->text(), QStringLiteral("Two"));
        QCOMPARE(info->Genre->text(), QStringLiteral("Rock"));
        QCOMPARE(info->Artist->text(), QString());
        for (QLineEdit* box : {info->Edit7, info->Title, info->Artist, info->Album, info->Year,
                               info->Genre, info->Comment})
            QVERIFY(box->isReadOnly());
        QCOMPARE(info->GroupBox1->title(), QStringLiteral("ID3 Tag Information (Read Only)"));
        QCOMPARE(info->Label1->text(), QStringLiteral("Title          :"));
        QCOMPARE(info->Label6->text(), QStringLiteral("Coment     :"));
        QCOMPARE(info->SpeedButton2->text(), QStringLiteral("<< Previous "));
        QCOMPARE(info->SpeedButton1->text(), QStringLiteral("&OK"));
        QCOMPARE(info->SpeedButton3->text(), QStringLiteral("&Next >>"));
    }

    void longTextsShowFromTheirFirstCharacter() {
        const QByteArray title = "WHAT A WONDERFUL WORLD MEDLEY!"; // 30
        const QByteArray path = QFile::encodeName(dir.path()) +
                                "/a folder with a long name/and a long file name too.mp3";
        QVERIFY(QDir().mkpath(QFile::decodeName(path.left(path.lastIndexOf('/')))));
        WriteFile(path, taggedFile(title));
        TestSupport::PlaylistWindow f2;
        f2.AppendEntry(path);
        f2.RenumberList();
        f2.SetCurrentIndex(0);
        f2.Viewfileinfo1Click();
        TForm4* info = infoWindows(f2).first();
        QVERIFY(QTest::qWaitForWindowExposed(info));
        QCOMPARE(info->Title->text(), QString::fromLatin1(title));
        // Wider than its box, each text shows its start.
        QVERIFY(info->Title->fontMetrics().horizontalAdvance(info->Title->text()) >
                info->Title->width());
        for (QLineEdit* box : {info->Edit7, info->Title, info->Genre})
            QCOMPARE(box->cursorPosition(), 0);
    }

    void withNoHighlightedRowEntryZeroBecomesCurrent() {
        TestSupport::PlaylistWindow f2;
        fill(f2);
        f2.SetCurrentIndex(2);
        f2.RenumberList(); // takes the highlight, keeps the current entry
        QCOMPARE(f2.CurrentIndex(), 2);
        f2.Viewfileinfo1Click();
        QCOMPARE(f2.CurrentIndex(), 0);
        QCOMPARE(f2.Lists->HighlightedRow(), 0);
        QCOMPARE(infoWindows(f2).first()->Title->text(), QStringLiteral("One"));
    }

    void emptyPlaylistOpensNoWindow() {
        TestSupport::PlaylistWindow f2;
        f2.ClearEntries();
        TestSupport::MessageRecorder recorder;
        f2.Viewfileinfo1Click();
        QVERIFY(infoWindows(f2).isEmpty());
        QVERIFY(recorder.errors.isEmpty());
    }

    void nextWrapsFromLastToFirstAndPreviousFromFirstToLast() {
        TestSupport::PlaylistWindow f2;
        fill(f2);
        f2.SetCurrentIndex(2);
        f2.Viewfileinfo1Click();
        TForm4* info = infoWindows(f2).first();
        QCOMPARE(info->Title->text(), QStringLiteral("Three"));

        QTest::mouseClick(info->SpeedButton3, Qt::LeftButton);
        QCOMPARE(f2.CurrentIndex(), 0);
        QCOMPARE(info->Title->text(), QStringLiteral("One"));
        QCOMPARE(info->Edit7->text(), QFile::decodeName(paths[0]));

        QTest::mouseClick(info->SpeedButton2, Qt::LeftButton);
        QCOMPARE(f2.CurrentIndex(), 2);
        QCOMPARE(info->Title->text(), QStringLiteral("Three"));

        info->SpeedButton2Click();
        QCOMPARE(info->Title->text(), QStringLiteral("Two"));
    }

    void secondWindowStepsOnItsOwnAndOkClosesOnlyItsWindow() {
        TestSupport::PlaylistWindow f2;
        fill(f2);
        f2.SetCurrentIndex(0);
        f2.Viewfileinfo1Click();
        f2.Viewfileinfo1Click();
        QCOMPARE(infoWindows(f2).size(), 2);
        QPointer<TForm4> first = infoWindows(f2)[0];
        QPointer<TForm4> second = infoWindows(f2)[1];
        QVERIFY(first != second);

        second->SpeedButton3Click();
        QCOMPARE(second->Title->text(), QStringLiteral("Two"));
        QCOMPARE(first->Title->text(), QStringLiteral("One")); // shows its own last refresh

        QTest::mouseClick(second->SpeedButton1, Qt::LeftButton);
        deleteClosedWindows();
        QVERIFY(second.isNull());
        QVERIFY(first && first->isVisible());
        QCOMPARE(first->Title->text(), QStringLiteral("One"));
    }

    void fileThatCannotBeReadShowsItsPathAndEmptyBoxes() {
        TestSupport::PlaylistWindow f2;
        fill(f2);
        const QByteArray missing = QFile::encodeName(dir.path()) + "/gone.mp3";
        const QByteArray untagged = QFile::encodeName(dir.path()) + "/plain.wav";
        WriteFile(untagged, QByteArray(400, 'w'));
        f2.AppendEntry(missing);
        f2.AppendEntry(untagged);
        f2.SetCurrentIndex(2);
        TestSupport::MessageRecorder recorder;
        f2.Viewfileinfo1Click();
        TForm4* info = infoWindows(f2).first();
        QCOMPARE(info->Title->text(), QStringLiteral("Three"));

        info->SpeedButton3Click(); // to the missing file: the old texts go
        QCOMPARE(info->Edit7->text(), QFile::decodeName(missing));
        for (QLineEdit* box :
             {info->Title, info->Artist, info->Album, info->Year, info->Genre, info->Comment})
            QVERIFY(box->text().isEmpty());

        info->SpeedButton3Click(); // to the file without a tag
        QCOMPARE(info->Edit7->text(), QFile::decodeName(untagged));
        QVERIFY(info->Title->text().isEmpty() && info->Genre->text().isEmpty());
        QVERIFY(recorder.messages.isEmpty() && recorder.errors.isEmpty());
    }

    void steppingAfterThePlaylistWasEmptiedReportsIndexAndKeepsTheTexts() {
        TestSupport::PlaylistWindow f2;
        fill(f2);
        f2.SetCurrentIndex(1);
        f2.Viewfileinfo1Click();
        TForm4* info = infoWindows(f2).first();
        f2.ClearEntries();

        TestSupport::MessageRecorder recorder;
        info->SpeedButton3Click();
        info->SpeedButton2Click();
        QCOMPARE(recorder.errors, QStringList(2, QStringLiteral("List index out of bounds (-1)")));
        QCOMPARE(info->Title->text(), QStringLiteral("Two"));
        QCOMPARE(info->Edit7->text(), QFile::decodeName(paths[1]));
    }

    void steppingOverOtherFilesLeavesPlaybackTimerRunning() {
        TestSupport::PlaylistWindow f2;
        TForm1& f1 = f2.mainWindow();
        fill(f2);
        f2.AppendEntry(QFile::encodeName(dir.path()) + "/gone.mp3");
        f1.MP->FileName = QFile::encodeName(dir.path()) + "/playing-elsewhere.mp3";
        f1.Timer1->start();
        f2.SetCurrentIndex(1);
        f2.Viewfileinfo1Click();
        TForm4* info = infoWindows(f2).first();
        info->SpeedButton3Click();
        info->SpeedButton3Click(); // the unreadable entry
        QVERIFY(info->Title->text().isEmpty());
        QVERIFY(f1.Timer1->isActive());
        QCOMPARE(f1.MP->FileName, QFile::encodeName(dir.path()) + "/playing-elsewhere.mp3");
        f1.Timer1->stop();
    }

    void loadedFileWhoseDeviceIsClosedIsReadWithoutStartingIt() {
        TestSupport::PlaylistWindow f2;
        TForm1& f1 = f2.mainWindow();
        fill(f2);
        f1.MP->FileName = paths[0]; // loaded once, since closed (e.g. at its end)
        QVERIFY(!f1.MP->isOpen());
        f2.SetCurrentIndex(0);
        f2.Viewfileinfo1Click();
        QCOMPARE(infoWindows(f2).first()->Title->text(), QStringLiteral("One"));
        QVERIFY(!f1.Timer1->isActive());
        QVERIFY(!f1.MP->isOpen());
        QCOMPARE(f2.EntryCount(), 3);
    }

    // The loaded file is released for the read and goes on where it was.
    void loadedFileResumesAtItsPosition_data() {
        QTest::addColumn<bool>("paused");
        QTest::newRow("playing") << false;
        QTest::newRow("paused") << true;
    }
    void loadedFileResumesAtItsPosition() {
        QFETCH(bool, paused);
        const QByteArray tone = TestSupport::Media(QStringLiteral("tone.mp3"));
        if (TestSupport::MediaDir().isEmpty() || !QFile::exists(QFile::decodeName(tone)))
            QSKIP("the test media tone.mp3 was not made");
        TestSupport::PlaylistWindow f2;
        TForm1& f1 = f2.mainWindow();
        f2.ClearEntries();
        f2.AppendEntry(paths[0]);
        f2.AppendEntry(tone);
        f2.SetCurrentIndex(1);
        f1.PlayCurrentEntry();
        if (!f1.MP->isOpen() || !f1.Timer1->isActive())
            QSKIP("the media device cannot open tone.mp3");

        const qint64 position = f1.MP->MediaLength() / 2;
        f1.MP->SeekMedia(position);
        f1.MP->PlayMedia();
        if (paused) {
            f1.SpeedButton2Click();
            QVERIFY(f1.isPaused());
        }
        const qint64 remembered = f1.MP->MediaPosition();

        f2.Viewfileinfo1Click();
        TForm4* info = infoWindows(f2).first();
        QCOMPARE(info->Edit7->text(), QFile::decodeName(tone));
        QVERIFY(f1.MP->isOpen());
        QCOMPARE(f1.MP->FileName, tone);
        QVERIFY(f1.Timer1->isActive());
        QVERIFY(f1.Timer2->isActive());
        QTRY_COMPARE(f1.MP->MediaMode(), TMPModes::mpPlaying);
        // Where it was, not from the start (allowing the device's frame steps).
        QTRY_VERIFY2(f1.MP->MediaPosition() >= remembered - 250,
                     qPrintable(QStringLiteral("resumed at %1 ms, was at %2 ms")
                                    .arg(f1.MP->MediaPosition())
                                    .arg(remembered)));

        // Stepping on to a file that is not the loaded one leaves it playing.
        info->SpeedButton3Click();
        QCOMPARE(info->Title->text(), QStringLiteral("One"));
        QCOMPARE(f1.MP->FileName, tone);
        QVERIFY(f1.MP->isOpen() && f1.Timer1->isActive());
        f1.SpeedButton1Click();
        f1.MP->CloseMedia();
    }
};

QTEST_MAIN(FileInfoTest)
#include "tst_fileinfo.moc"
