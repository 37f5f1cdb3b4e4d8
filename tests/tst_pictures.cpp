// The README's pictures of the windows, as a user sees them (the main
// window's comes from its own test), written into $TOLVANE_SCREENSHOT_DIR
// (by default the current folder).

#include "TestSupport.h"

#include "player/Unit1.h"
#include "playlist/Playlist.h"
#include "playlist/Unit2.h"
#include "trackinfo/Unit4.h"
#include "windows/Controls.h"
#include "windows/Unit3.h"
#include "windows/Unit5.h"

#include <QDir>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

class PicturesTest : public QObject {
    Q_OBJECT

private slots:
    void everyWindowIsPictured() {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs the virtual display of tools/with-test-env");
        QTemporaryDir music;
        qputenv("XDG_STATE_HOME", QFile::encodeName(music.filePath(QStringLiteral("state"))));
        TForm1 f1;
        f1.show();
        TForm2 f2(&f1);
        f1.Form2 = &f2;
        const QByteArray folder = QFile::encodeName(music.path()) + '/';
        for (const char* name :
             {"Morning Song.mp3", "Harbour Lights.wav", "Blue Hour.mp3", "Lantern Waltz.mid",
              "City Rain.wma", "Field Notes.avi", "Northbound.mp3", "Last Ferry.mpeg"})
            f2.AppendEntry(folder + name);
        // An ID3v1 tag: title, artist, album and year at bytes 3, 33, 63 and 93.
        QByteArray tag = "TAG" + QByteArray(125, '\0');
        tag.replace(3, 12, "Morning Song").replace(33, 16, "The Tolvane Trio");
        tag.replace(63, 11, "Early Light").replace(93, 4, "2004")[127] = 8;
        TestSupport::WriteFile(folder + "Morning Song.mp3", QByteArray(1000, 'x') + tag);
        TestSupport::WriteFile(folder + "Morning Song.mp3.txt",
                               "Morning Song\n\nThe kettle sings before the sun,\n"
                               "the street is grey, the day begun;\n"
                               "a song for every open door,\n"
                               "and one for those who sing no more.\n");
        f2.RenumberList();
        f2.UpdateCaption();
        f2.SetCurrentIndex(0);
        f2.Panel1->setText(QStringLiteral("01:05 "));

        const QDir out(qEnvironmentVariable("TOLVANE_SCREENSHOT_DIR", QDir::currentPath()));
        const auto save = [&out](QWidget* window, const QString& name) {
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window));
            QTest::qWait(100);
            QVERIFY(window->grab().save(out.filePath(name)));
            QCOMPARE(QImage(out.filePath(name)).size(), window->size());
        };
        save(&f2, QStringLiteral("playlistwindow.png"));
        f2.Lyric1Click();
        save(&f2, QStringLiteral("lyrics.png"));
        f2.Closelyricwindow1Click();
        f2.Viewfileinfo1Click();
        const QList<TForm4*> info = f2.findChildren<TForm4*>();
        QCOMPARE(info.size(), 1);
        // The picture shows where such a file would be, not the test's folder.
        info.first()->Edit7->setText(QStringLiteral("/home/ana/Music/Morning Song.mp3"));
        save(info.first(), QStringLiteral("fileinfo.png"));
        TForm3 about(&f2);
        save(&about, QStringLiteral("about.png"));
        TForm5 alarm;
        alarm.Edit1->setText(QStringLiteral("07:30:00"));
        alarm.Timer1Timer();
        save(&alarm, QStringLiteral("alarm.png"));
    }
};

QTEST_MAIN(PicturesTest)
#include "tst_pictures.moc"
