// The real open dialog, answered as a user would: what its filter list
// shows, and that a full path typed into it moves the current folder there.

#include "TestSupport.h"
#include "TestWindows.h"

#include "player/Unit1.h"
#include "playlist/Unit2.h"
#include "playlist/core/Playlist.h"
#include "windows/Dialogs.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray currentFolder() {
    char buffer[4096];
    return ::getcwd(buffer, sizeof buffer) ? QByteArray(buffer) : QByteArray();
}

// What a file dialog showed while it was open.
struct Seen {
    QStringList filterList;   // the entries of the file type list
    QStringList modelFilters; // the patterns the folder view filters by
    QString folder;           // the folder it showed
};

// Waits for the next modal file dialog, notes what it shows, types `typed`
// into its name field and presses Enter. A dialog that never comes (a
// platform's own, say) ends the run rather than leave it waiting.
void answerNextDialog(const QString& typed, Seen& seen) {
    auto* poll = new QTimer;
    auto* waited = new int(0);
    QObject::connect(poll, &QTimer::timeout, [poll, waited, typed, &seen] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        auto* name =
            dialog ? dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")) : nullptr;
        if (!name) {
            if (++*waited > 600)
                qFatal("no file dialog of Qt's own came up");
            return;
        }
        poll->stop();
        poll->deleteLater();
        delete waited;
        if (auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo")))
            for (int i = 0; i < types->count(); ++i)
                seen.filterList << types->itemText(i);
        if (auto* model = dialog->findChild<QFileSystemModel*>())
            seen.modelFilters = model->nameFilters();
        seen.folder = dialog->directory().absolutePath();
        name->setText(typed);
        QTest::keyClick(name, Qt::Key_Return);
    });
    poll->start(50);
}

} // namespace

class DialogsTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;

private slots:
    void openDialogListsTheDescriptionsFiltersByPatternsAndMovesToTheTypedFile() {
        const QByteArray root = QFile::encodeName(dir_.path());
        for (const char* folder : {"/shown", "/other"})
            QVERIFY(::mkdir((root + folder).constData(), 0755) == 0);
        TestSupport::WriteFile(root + "/other/typed.mp3", "");
        SetDialogStandIn({});
        QVERIFY(::chdir((root + "/shown").constData()) == 0);
        TestSupport::PlaylistWindow f2;
        TForm1& f1 = f2.mainWindow();
        f2.ClearEntries();
        f1.OD->setDirectory(QFile::decodeName(root + "/shown"));
        Seen seen;
        answerNextDialog(QFile::decodeName(root + "/other/typed.mp3"), seen);
        f2.AddFiles1Click();
        QCOMPARE(seen.filterList,
                 QStringList({"All supported files", "Audio module files (*.mp3;*.wav;*.wma)",
                              "Midi module files (*.mid;*.rmi)", "Video files (*.avi;*.mpg;*.mpeg)",
                              "All files (*.*)"}));
        QCOMPARE(seen.modelFilters, QStringList({"*.mp3", "*.wav", "*.mid", "*.rmi", "*.avi",
                                                 "*.mpg", "*.mpeg", "*.wma"}));
        QCOMPARE(f2.Lists->Paths(), std::vector<QByteArray>{root + "/other/typed.mp3"});
        QCOMPARE(currentFolder(), root + "/other");
    }

    void everyDialogStartsInTheFolderOfTheFileLastChosenInAny() {
        const QByteArray root = QFile::encodeName(dir_.path()) + "/every";
        for (const char* folder : {"", "/start", "/lists", "/music", "/saved"})
            QVERIFY(::mkdir((root + folder).constData(), 0755) == 0);
        TestSupport::WriteFile(root + "/lists/old.plf", root + "/music/a.mp3\r\n");
        TestSupport::WriteFile(root + "/music/a.mp3", "");
        TestSupport::WriteFile(root + "/music/b.mp3", "");
        QByteArray folderDialogStart;
        DialogStandIn folderOnly;
        folderOnly.folder = [&](const QString&, const QByteArray& start) {
            folderDialogStart = start;
            return std::optional<QByteArray>();
        };
        SetDialogStandIn(folderOnly);
        QVERIFY(::chdir((root + "/start").constData()) == 0);
        TForm1 f1;
        f1.show();
        TForm2 f2(&f1);
        f2.ClearEntries();
        const QString at = QFile::decodeName(root);

        // Load List: a full path typed; the list's folder becomes current.
        Seen load;
        answerNextDialog(at + "/lists/old.plf", load);
        f2.LoadList1Click();
        QCOMPARE(load.folder, at + "/start");
        QCOMPARE(f2.EntryCount(), 1);

        // Save List starts there; a full path typed into another folder.
        Seen save;
        answerNextDialog(at + "/saved/new.plf", save);
        f2.Savelist1Click();
        QCOMPARE(save.folder, at + "/lists");
        QVERIFY(QFile::exists(at + "/saved/new.plf"));

        // Add File(s), the same dialog as Load List, starts where Save List
        // ended: a bare name is found there.
        TestSupport::WriteFile(root + "/saved/c.mp3", "");
        Seen add;
        answerNextDialog(QStringLiteral("c.mp3"), add);
        f2.AddFiles1Click();
        QCOMPARE(add.folder, at + "/saved");
        QCOMPARE(f2.EntryPath(1), root + "/saved/c.mp3");

        // Add to List, typed in full into the music folder ...
        TestSupport::WriteFile(root + "/music/more.plf", root + "/music/b.mp3\r\n");
        Seen append;
        answerNextDialog(at + "/music/more.plf", append);
        f2.Addtolist1Click();
        QCOMPARE(append.folder, at + "/saved");
        QCOMPARE(f2.EntryCount(), 3);

        // ... and the folder dialog and the open dialog of Play on an empty
        // list start there.
        f2.AddFolder1Click();
        QCOMPARE(folderDialogStart, root + "/music");
        f2.Newlist1Click();
        Seen play;
        answerNextDialog(QStringLiteral("a.mp3"), play);
        f1.PlayClick();
        QCOMPARE(play.folder, at + "/music");
        QCOMPARE(f2.EntryPath(0), root + "/music/a.mp3");
        SetDialogStandIn({});
    }
};

QTEST_MAIN(DialogsTest)
#include "tst_dialogs.moc"
