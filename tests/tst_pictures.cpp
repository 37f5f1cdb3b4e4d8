// Pictures of the windows for the README, taken as a user would see them:
// the playlist window (with its list, and with a lyric over it), the file
// info window, the about window and the alarm window. The main window's
// picture comes from its own test. They are written into
// $TOLVANE_SCREENSHOT_DIR (by default the current folder).

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

namespace {

QByteArray id3v1(const QByteArray& title, const QByteArray& artist, const QByteArray& album,
                 const QByteArray& year, char genre) {
    QByteArray tag = "TAG" + QByteArray(125, '\0');
    tag.replace(3, title.size(), title);
    tag.replace(33, artist.size(), artist);
    tag.replace(63, album.size(), album);
    tag.replace(93, year.size(), year);
    tag[127] = genre;
    return QByteArray(1000, 'x') + tag;
}

} // namespace

class PicturesTest : public QObject {
    Q_OBJECT

    QTemporaryDir music;

    // Saves the window's picture and checks that it is the whole window.
    static void save(QWidget* window, const QString& name) {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QTest::qWait(100);
        const QString folder = qEnvironmentVariable("TOLVANE_SCREENSHOT_DIR", QDir::currentPath());
        const QString path = QDir(folder).filePath(name);
        QVERIFY(window->grab().save(path));
        QCOMPARE(QImage(path).size(), window->size());
    }

private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs the virtual display of tools/with-test-env");
        qputenv("XDG_STATE_HOME", QFile::encodeName(music.filePath(QStringLiteral("state"))));
    }

    void everyWindowIsPictured() {
        TForm1 f1;
        f1.show();
        TForm2 f2(&f1);
        f1.Form2 = &f2;
        const QByteArray folder = QFile::encodeName(music.path()) + '/';
        for (const char* name :
             {"Morning Song.mp3", "Harbour Lights.wav", "Blue Hour.mp3", "Lantern Waltz.mid",
              "City Rain.wma", "Field Notes.avi", "Northbound.mp3", "Last Ferry.mpeg"})
            f2.AppendEntry(folder + name);
        TestSupport::WriteFile(folder + "Morning Song.mp3",
                               id3v1("Morning Song", "The Tolvane Trio", "Early Light", "2004", 8));
        TestSupport::WriteFile(folder + "Morning Song.mp3.txt",
                               "Morning Song\n\nThe kettle sings before the sun,\n"
                               "the street is grey, the day begun;\n"
                               "a song for every open door,\n"
                               "and one for those who sing no more.\n");
        f2.RenumberList();
        f2.UpdateCaption();
        f2.SetCurrentIndex(0);
        f2.Panel1->setText(QStringLiteral("01:05 "));
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
