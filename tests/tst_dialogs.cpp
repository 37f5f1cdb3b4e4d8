// The real open dialog, answered as a user would: what its filter list
// shows, and that a full path typed into it moves the current folder there.

#include "TestSupport.h"
#include "TestWindows.h"

#include "windows/Dialogs.h"
#include "player/Unit1.h"
#include "playlist/core/Playlist.h"
#include "playlist/Unit2.h"

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
};

QTEST_MAIN(DialogsTest)
#include "tst_dialogs.moc"
