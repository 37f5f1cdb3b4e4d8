// The playlist window's ways of filling and keeping the playlist: the
// automatic playlist at start and end, the "&List" commands, "Add File(s)",
// "Add Folder", "Include Subfolder" and drops from a file manager.

#include "TestSupport.h"
#include "TestWindows.h"

#include "windows/Dialogs.h"
#include "player/Unit1.h"
#include "playlist/core/DroppedPaths.h"
#include "playlist/ListBox.h"
#include "playlist/core/Playlist.h"
#include "playlist/Unit2.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using Paths = QList<QByteArray>;

namespace {

const QString ListFilter = QStringLiteral("Play list files (*.plf)|*.plf|"
                                          "Playlists of other players (*.m3u;*.m3u8;*.pls;*.xspf)|"
                                          "*.m3u;*.m3u8;*.pls;*.xspf");
const QString SaveFilter =
    QStringLiteral("Play list files (*.plf)|*.plf|M3U8 playlists (*.m3u8;*.m3u)|*.m3u8;*.m3u");
const QString MediaFilter =
    QStringLiteral("All supported files|*.mp3;*.wav;*.mid;*.rmi;*.avi;*.mpg;*.mpeg;*.wma|"
                   "Audio module files (*.mp3;*.wav;*.wma)|*.mp3;*.wav;*.wma|"
                   "Midi module files (*.mid;*.rmi)|*.mid;*.rmi|"
                   "Video files (*.avi;*.mpg;*.mpeg)|*.avi;*.mpg;*.mpeg|"
                   "All files (*.*)|*.*");

// The two windows as the program entry makes them.
struct Windows {
    TestSupport::PlaylistWindow playlist;
    TForm1& f1 = playlist.mainWindow();
    TForm2* const f2 = &playlist;
    Playlist& list() const { return *f2->Lists; }
    Paths paths() const { return Paths(list().Paths().begin(), list().Paths().end()); }
    QString caption() const { return f2->windowTitle(); }
};

void writeBytes(const QByteArray& path, const QByteArray& bytes) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QVERIFY2(fd >= 0, path.constData());
    QCOMPARE(::write(fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    ::close(fd);
}

QByteArray readBytes(const QByteArray& path) {
    QFile file(QFile::decodeName(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void touch(const QByteArray& path) {
    writeBytes(path, {});
}

void makeFolder(const QByteArray& path) {
    QVERIFY2(::mkdir(path.constData(), 0755) == 0, path);
}

QByteArray currentFolder() {
    char buffer[4096];
    return ::getcwd(buffer, sizeof buffer) ? QByteArray(buffer) : QByteArray();
}

QStringList displayLines(const Playlist& list) {
    QStringList lines;
    for (int i = 0; i < list.EntryCount(); ++i)
        lines << list.DisplayLine(i);
    return lines;
}

// A file URL as a file manager writes it: every byte outside the unreserved
// set percent-encoded, so any name travels, UTF-8 or not.
QByteArray fileUrl(const QByteArray& path) {
    return "file://" + path.toPercentEncoding("/");
}

// Drags the data onto ListB and drops it there, as the window system delivers
// a drag from another program: enter, move, drop, all on the list's viewport.
// Returns whether the list took the drop.
bool dropOn(TListBox* list, QMimeData* data, Qt::DropActions actions = Qt::CopyAction) {
    QWidget* target = list->viewport();
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, actions, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted())
        return false;
    QDragMoveEvent move(at, actions, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &move);
    if (!move.isAccepted())
        return false;
    QDropEvent drop(QPointF(at), actions, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return drop.isAccepted() && drop.dropAction() == Qt::CopyAction;
}

bool dropPaths(TListBox* list, const Paths& paths) {
    QByteArray uriList;
    for (const QByteArray& path : paths)
        uriList += fileUrl(path) + "\r\n";
    QMimeData data;
    data.setData(QStringLiteral("text/uri-list"), uriList);
    return dropOn(list, &data);
}

// The dialogs answer as the user would, one kind of dialog at a time.
void answerOpen(std::function<std::optional<std::vector<QByteArray>>(QFileDialog*)> answer) {
    DialogStandIn standIn;
    standIn.open = std::move(answer);
    SetDialogStandIn(standIn);
}
void answerSave(std::function<std::optional<QByteArray>(QFileDialog*)> answer) {
    DialogStandIn standIn;
    standIn.save = std::move(answer);
    SetDialogStandIn(standIn);
}
void answerFolder(
    std::function<std::optional<QByteArray>(const QString&, const QByteArray&)> answer) {
    DialogStandIn standIn;
    standIn.folder = std::move(answer);
    SetDialogStandIn(standIn);
}

using TestSupport::FileSizeLimit;

} // namespace

class AddMediaTest : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir_;
    QByteArray root_;     // a fresh folder for the files of one case
    QByteArray state_;    // XDG_STATE_HOME of the case
    QByteArray playlist_; // the automatic playlist of the case
    QByteArray startFolder_;

    void writePlaylist(const QByteArray& text) {
        QVERIFY(QDir().mkpath(QFile::decodeName(state_ + "/tolvane")));
        writeBytes(playlist_, text);
    }

private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        root_ = QFile::encodeName(dir_->path());
        state_ = root_ + "/state";
        playlist_ = state_ + "/tolvane/PlayList.plf";
        qputenv("XDG_STATE_HOME", state_);
        startFolder_ = currentFolder();
    }
    void cleanup() {
        SetDialogStandIn(DialogStandIn());
        QVERIFY(::chdir(startFolder_.constData()) == 0);
        dir_.reset();
    }

    // --- the automatic playlist at start ---
    void startWithFiveSavedEntriesShowsThemWithTheFirstCurrentAndNoHighlight() {
        writePlaylist("/m/a.mp3\r\n/m/b.mp3\r\n/m/c.wav\r\n/m/d.mid\r\n/m/e.avi\r\n");
        TestSupport::MessageRecorder recorder;
        Windows w;
        QCOMPARE(w.caption(), QStringLiteral("Play List: 5 items"));
        QCOMPARE(w.list().CurrentIndex(), 0);
        QCOMPARE(w.list().HighlightedRow(), -1);
        QCOMPARE(displayLines(w.list()),
                 (QStringList{"1. a.mp3", "2. b.mp3", "3. c.wav", "4. d.mid", "5. e.avi"}));
        QVERIFY(recorder.errors.isEmpty());
    }
    void aLongAutomaticPlaylistIsLaidOutOnceBeforeItIsShown() {
        QByteArray text;
        for (int i = 0; i < 5000; ++i)
            text += "/m/" + QByteArray::number(i) + ".mp3\r\n";
        writePlaylist(text);
        Windows w;
        QVERIFY(QTest::qWaitForWindowExposed(w.f2));
        w.f2->ListB->viewport()->repaint();
        QCOMPARE(w.f2->ListB->LayoutCount(), 1);
        QCOMPARE(w.f2->ListB->FirstVisibleRow(), 0);
        QCOMPARE(w.list().CurrentIndex(), 0);
        QCOMPARE(w.list().EntryCount(), 5000);
    }
    void startWithoutAutomaticPlaylistIsEmptyAndSilent() {
        TestSupport::MessageRecorder recorder;
        Windows w;
        QCOMPARE(w.caption(), QStringLiteral("Play List: 0 items"));
        QCOMPARE(w.list().CurrentIndex(), -1);
        QVERIFY(recorder.errors.isEmpty() && recorder.messages.isEmpty());
    }
    void aFolderNamedLikeTheAutomaticPlaylistIsNoPlaylist() {
        QVERIFY(QDir().mkpath(QFile::decodeName(playlist_)));
        TestSupport::MessageRecorder recorder;
        Windows w;
        QCOMPARE(w.caption(), QStringLiteral("Play List: 0 items"));
        QVERIFY(recorder.errors.isEmpty());
    }
    void anAutomaticPlaylistThatCannotBeOpenedIsReportedAndTheListStartsEmpty() {
        // A socket exists but cannot be opened, for root as for anyone.
        QVERIFY(QDir().mkpath(QFile::decodeName(state_ + "/tolvane")));
        const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        QVERIFY(size_t(playlist_.size()) < sizeof address.sun_path);
        std::memcpy(address.sun_path, playlist_.constData(), size_t(playlist_.size()));
        QVERIFY(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
        TestSupport::MessageRecorder recorder;
        Windows w;
        ::close(sock);
        QCOMPARE(recorder.errors,
                 QStringList{QStringLiteral("Cannot open file \"%1\". No such device or address")
                                 .arg(QString::fromUtf8(playlist_))});
        QCOMPARE(w.caption(), QStringLiteral("Play List: 0 items"));
        QCOMPARE(w.list().CurrentIndex(), -1);
    }

    void anAutomaticPlaylistThatCannotBeLookedAtIsReportedNotTakenForMissing() {
        // A link to itself cannot even be looked at; that is no first run.
        QVERIFY(QDir().mkpath(QFile::decodeName(state_ + "/tolvane")));
        QVERIFY(::symlink(playlist_.constData(), playlist_.constData()) == 0);
        TestSupport::MessageRecorder recorder;
        Windows w;
        QCOMPARE(recorder.errors.size(), 1);
        QVERIFY(recorder.errors.first().startsWith(
            QStringLiteral("Cannot open file \"%1\". ").arg(QString::fromUtf8(playlist_))));
        QCOMPARE(w.caption(), QStringLiteral("Play List: 0 items"));
    }

    // --- the automatic playlist at the end ---
    void theEndWritesThePlaylistIntoAPrivateFolderMadeForIt() {
        state_ = root_ + "/new/state";
        playlist_ = state_ + "/tolvane/PlayList.plf";
        qputenv("XDG_STATE_HOME", state_);
        Windows w;
        w.list().AppendEntries({"/m/a.mp3", "/m/\xE9t\xE9.wav"});
        w.f2->SaveAutomaticPlaylist();
        QCOMPARE(readBytes(playlist_), QByteArray("/m/a.mp3\r\n/m/\xE9t\xE9.wav\r\n"));
        struct stat st {};
        QVERIFY(::stat((state_ + "/tolvane").constData(), &st) == 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0700));
    }
    void whatTheEndWritesTheNextStartReads() {
        {
            Windows w;
            w.list().AppendEntries({"/m/one.mp3", "", " /m/two.mp3 "});
            w.f2->SaveAutomaticPlaylist();
        }
        Windows w;
        QCOMPARE(w.paths(), (Paths{"/m/one.mp3", "", " /m/two.mp3 "}));
    }
    void anEmptyPlaylistAtTheEndEmptiesTheFile() {
        writePlaylist("/m/a.mp3\r\n");
        Windows w;
        w.f2->Newlist1Click();
        w.f2->SaveAutomaticPlaylist();
        QCOMPARE(readBytes(playlist_), QByteArray());
    }
    void anAutomaticPlaylistThatCannotBeCreatedIsReported() {
        writeBytes(root_ + "/plainfile", "x");
        qputenv("XDG_STATE_HOME", root_ + "/plainfile");
        TestSupport::MessageRecorder recorder;
        Windows w;
        w.f2->SaveAutomaticPlaylist();
        QCOMPARE(recorder.errors,
                 QStringList{QStringLiteral("Cannot create file \"%1/plainfile/tolvane/"
                                            "PlayList.plf\". Not a directory")
                                 .arg(QString::fromUtf8(root_))});
    }
    void aFailedWriteAtTheEndKeepsTheOldPlaylist() {
        const QByteArray old = "/m/old1.mp3\r\n/m/old2.mp3\r\n";
        writePlaylist(old);
        TestSupport::MessageRecorder recorder;
        Windows w;
        w.list().AppendEntries(std::vector<QByteArray>(300, "/a/rather/long/folder/song.mp3"));
        {
            FileSizeLimit limit(64);
            w.f2->SaveAutomaticPlaylist();
        }
        QCOMPARE(recorder.errors, QStringList{QStringLiteral("Cannot create file \"%1\". File "
                                                             "too large")
                                                  .arg(QString::fromUtf8(playlist_))});
        QCOMPARE(readBytes(playlist_), old);
        QCOMPARE(QDir(QFile::decodeName(state_ + "/tolvane"))
                     .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{"PlayList.plf"});
    }

    // --- "New List", "Save List", "Load List", "Add to List" ---
    void newListEmptiesThePlaylistAndTheCaptionAtOnce() {
        writePlaylist("/m/a.mp3\r\n/m/b.mp3\r\n");
        Windows w;
        w.f2->Newlist1Click();
        QCOMPARE(w.list().EntryCount(), 0);
        QCOMPARE(w.list().CurrentIndex(), -1);
        QCOMPARE(w.caption(), QStringLiteral("Play List: 0 items"));
    }
    void saveListWritesThePathsUnderTheNameAsTypedAndTouchesNothingElse() {
        writePlaylist("/m/a.mp3\r\n/m/\xE9.wav\r\n");
        Windows w;
        w.list().SetCurrentIndex(1);
        QString filter;
        bool asksBeforeReplacing = true;
        QString suffix = QStringLiteral("?");
        answerSave([&](QFileDialog* dialog) -> std::optional<QByteArray> {
            filter = dialog->property("filterText").toString();
            asksBeforeReplacing = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
            suffix = dialog->defaultSuffix();
            return root_ + "/mylist";
        });
        writeBytes(root_ + "/mylist", "replaced, not appended to\r\n");
        w.f2->Savelist1Click();
        QCOMPARE(filter, SaveFilter);
        QVERIFY(!asksBeforeReplacing);
        QCOMPARE(suffix, QString());
        QCOMPARE(readBytes(root_ + "/mylist"), QByteArray("/m/a.mp3\r\n/m/\xE9.wav\r\n"));
        QCOMPARE(w.list().CurrentIndex(), 1);
        QCOMPARE(w.list().HighlightedRow(), 1);
    }
    void cancellingSaveListWritesNothing() {
        Windows w;
        w.list().AppendEntries({"/m/a.mp3"});
        answerSave([](QFileDialog*) -> std::optional<QByteArray> { return {}; });
        w.f2->Savelist1Click();
        QCOMPARE(QDir(dir_->path()).entryList(QDir::Files), QStringList{});
    }
    void saveListThatCannotCreateTheFileIsReported() {
        Windows w;
        w.list().AppendEntries({"/m/a.mp3"});
        const QByteArray target = root_ + "/missing/list.plf";
        answerSave([&](QFileDialog*) -> std::optional<QByteArray> { return target; });
        TestSupport::MessageRecorder recorder;
        w.f2->Savelist1Click();
        QCOMPARE(recorder.errors,
                 QStringList{QStringLiteral("Cannot create file \"%1\". No such file or directory")
                                 .arg(QString::fromUtf8(target))});
        QCOMPARE(w.list().EntryCount(), 1);
    }
    void loadListReplacesThePlaylistWithTheFirstChosenFileAndLeavesNoCurrentEntry() {
        writePlaylist("/m/old.mp3\r\n");
        writeBytes(root_ + "/first.plf", "/m/x.mp3\n/m/y.wav\r/m/z.mid");
        writeBytes(root_ + "/second.plf", "/m/never.mp3\r\n");
        Windows w;
        QString filter;
        answerOpen([&](QFileDialog* dialog) {
            filter = dialog->property("filterText").toString();
            return std::optional(
                std::vector<QByteArray>{root_ + "/first.plf", root_ + "/second.plf"});
        });
        w.f2->LoadList1Click();
        QCOMPARE(filter, ListFilter);
        QCOMPARE(w.paths(), (Paths{"/m/x.mp3", "/m/y.wav", "/m/z.mid"}));
        QCOMPARE(displayLines(w.list()), (QStringList{"1. x.mp3", "2. y.wav", "3. z.mid"}));
        QCOMPARE(w.list().CurrentIndex(), -1);
        QCOMPARE(w.list().HighlightedRow(), -1);
        QCOMPARE(w.caption(), QStringLiteral("Play List: 3 items"));
    }
    void cancellingLoadListKeepsTheEntriesButRenumbersAndRefreshesTheCaption() {
        writePlaylist("/m/a.mp3\r\n/m/b.mp3\r\n");
        Windows w;
        w.list().SetCurrentIndex(1);
        w.f2->setWindowTitle(QStringLiteral("stale"));
        answerOpen([](QFileDialog*) { return std::optional<std::vector<QByteArray>>(); });
        w.f2->LoadList1Click();
        QCOMPARE(w.paths(), (Paths{"/m/a.mp3", "/m/b.mp3"}));
        QCOMPARE(w.list().CurrentIndex(), 1);
        QCOMPARE(w.list().HighlightedRow(), -1);
        QCOMPARE(w.caption(), QStringLiteral("Play List: 2 items"));
    }
    void loadListOfAFileThatCannotBeReadKeepsThePlaylistAndReports_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << QByteArray("missing.plf")
                                 << QStringLiteral("No such file or directory");
        QTest::newRow("pipe") << QByteArray("pipe.plf") << QStringLiteral("Not a regular file");
        QTest::newRow("pipe named .m3u")
            << QByteArray("pipe.m3u") << QStringLiteral("Not a regular file");
        QTest::newRow("/dev/zero")
            << QByteArray("/dev/zero") << QStringLiteral("Not a regular file");
        QTest::newRow("folder") << QByteArray("folder.plf") << QStringLiteral("Is a directory");
    }
    void loadListOfAFileThatCannotBeReadKeepsThePlaylistAndReports() {
        QFETCH(QByteArray, name);
        QFETCH(QString, reason);
        const QByteArray chosen = name.startsWith('/') ? name : root_ + '/' + name;
        if (name.startsWith("pipe"))
            QVERIFY(::mkfifo(chosen.constData(), 0600) == 0);
        if (name.startsWith("folder"))
            makeFolder(chosen);
        const QByteArray saved = "/m/a.mp3\r\n/m/b.mp3\r\n/m/c.mp3\r\n";
        writePlaylist(saved);
        TestSupport::MessageRecorder recorder;
        {
            Windows w;
            w.list().SetCurrentIndex(2);
            answerOpen(
                [&](QFileDialog*) { return std::optional(std::vector<QByteArray>{chosen}); });
            w.f2->LoadList1Click();
            w.f2->Addtolist1Click();
            const QString error = QStringLiteral("Cannot open file \"%1\". %2")
                                      .arg(QString::fromUtf8(chosen), reason);
            QCOMPARE(recorder.errors, (QStringList{error, error}));
            QCOMPARE(w.paths(), (Paths{"/m/a.mp3", "/m/b.mp3", "/m/c.mp3"}));
            QCOMPARE(w.list().CurrentIndex(), 2);
            QCOMPARE(w.caption(), QStringLiteral("Play List: 3 items"));
            w.f2->SaveAutomaticPlaylist();
        }
        // What the end saves is the list as it was, not an emptied one.
        QCOMPARE(readBytes(playlist_), saved);
    }
    void loadListShowsTheNewListFromItsFirstRow() {
        QByteArray old, other;
        for (int i = 1; i <= 100; ++i) {
            old += "/m/old" + QByteArray::number(i) + ".mp3\r\n";
            other += "/m/new" + QByteArray::number(i) + ".mp3\r\n";
        }
        writePlaylist(old);
        writeBytes(root_ + "/other.plf", other);
        Windows w;
        QVERIFY(QTest::qWaitForWindowExposed(w.f2));
        w.f2->ListB->SetFirstVisibleRow(78);
        QApplication::processEvents();
        QVERIFY(w.f2->ListB->FirstVisibleRow() > 60);
        answerOpen([&](QFileDialog*) {
            return std::optional(std::vector<QByteArray>{root_ + "/other.plf"});
        });
        w.f2->LoadList1Click();
        QApplication::processEvents();
        w.f2->ListB->viewport()->repaint();
        QCOMPARE(w.list().EntryCount(), 100);
        QCOMPARE(w.f2->ListB->FirstVisibleRow(), 0);
        QCOMPARE(w.f2->ListB->RowAt(QPoint(2, 2)), 0);
    }
    void theFileDialogsAreBuiltOnFirstUseAndKeptForTheNext() {
        Windows w;
        QVERIFY(w.f1.findChildren<QFileDialog*>().isEmpty());
        QVERIFY(w.f2->findChildren<QFileDialog*>().isEmpty());
        QList<QFileDialog*> opened, saved;
        DialogStandIn standIn;
        standIn.open = [&](QFileDialog* dialog) {
            opened << dialog;
            return std::optional<std::vector<QByteArray>>();
        };
        standIn.save = [&](QFileDialog* dialog) {
            saved << dialog;
            return std::optional<QByteArray>();
        };
        SetDialogStandIn(standIn);
        w.f2->LoadList1Click();
        w.f2->Addtolist1Click();
        w.f2->Savelist1Click();
        w.f2->Savelist1Click();
        QCOMPARE(opened.size(), 2);
        QCOMPARE(opened[1], opened[0]);
        QCOMPARE(saved.size(), 2);
        QCOMPARE(saved[1], saved[0]);
        QCOMPARE(w.f1.findChildren<QFileDialog*>(), QList<QFileDialog*>{opened[0]});
        QCOMPARE(w.f2->findChildren<QFileDialog*>(), QList<QFileDialog*>{saved[0]});
        QCOMPARE(opened[0]->fileMode(), QFileDialog::ExistingFiles);
        QCOMPARE(saved[0]->acceptMode(), QFileDialog::AcceptSave);
    }
    void aFileTooLargeToBeAPlaylistIsRefusedBeforeAnythingIsCleared() {
        writePlaylist("/m/a.mp3\r\n/m/b.mp3\r\n");
        // Sparse: it takes no room on the disk, but says it holds 300 MiB.
        const QByteArray huge = root_ + "/huge.plf";
        touch(huge);
        QVERIFY(::truncate(huge.constData(), off_t(300) << 20) == 0);
        Windows w;
        w.list().SetCurrentIndex(1);
        answerOpen([&](QFileDialog*) { return std::optional(std::vector<QByteArray>{huge}); });
        TestSupport::MessageRecorder recorder;
        w.f2->LoadList1Click();
        w.f2->Addtolist1Click();
        const QString tooLarge =
            QStringLiteral("Cannot open file \"%1\". File too large").arg(QString::fromUtf8(huge));
        QCOMPARE(recorder.errors, (QStringList{tooLarge, tooLarge}));
        QCOMPARE(w.paths(), (Paths{"/m/a.mp3", "/m/b.mp3"}));
        QCOMPARE(w.list().CurrentIndex(), 1);
    }
    void addToListAppendsTheFileEntriesAndKeepsTheCurrentEntry() {
        writePlaylist("/m/a.mp3\r\n/m/b.mp3\r\n");
        writeBytes(root_ + "/more.txt", "/m/c.wav\r\n\r\n/m/d.mid\r\n");
        Windows w;
        w.list().SetCurrentIndex(1);
        QString filter;
        answerOpen([&](QFileDialog* dialog) {
            filter = dialog->property("filterText").toString();
            return std::optional(std::vector<QByteArray>{root_ + "/more.txt"});
        });
        w.f2->Addtolist1Click();
        QCOMPARE(filter, ListFilter);
        QCOMPARE(w.paths(), (Paths{"/m/a.mp3", "/m/b.mp3", "/m/c.wav", "", "/m/d.mid"}));
        QCOMPARE(displayLines(w.list()).at(3), QStringLiteral("4. "));
        QCOMPARE(w.list().CurrentIndex(), 1);
        QCOMPARE(w.caption(), QStringLiteral("Play List: 5 items"));
    }
    void cancellingAddToListAddsNothingButRenumbers() {
        writePlaylist("/m/a.mp3\r\n");
        Windows w;
        w.list().SetCurrentIndex(0);
        answerOpen([](QFileDialog*) { return std::optional<std::vector<QByteArray>>(); });
        w.f2->Addtolist1Click();
        QCOMPARE(w.paths(), Paths{"/m/a.mp3"});
        QCOMPARE(w.list().HighlightedRow(), -1);
        QCOMPARE(w.caption(), QStringLiteral("Play List: 1 items"));
    }
    void addToListOfAFileThatCannotBeOpenedLeavesThePlaylistAndReports() {
        writePlaylist("/m/a.mp3\r\n");
        Windows w;
        answerOpen([&](QFileDialog*) { return std::optional(std::vector<QByteArray>{root_}); });
        TestSupport::MessageRecorder recorder;
        w.f2->Addtolist1Click();
        QCOMPARE(recorder.errors, QStringList{QStringLiteral("Cannot open file \"%1\". Is a "
                                                             "directory")
                                                  .arg(QString::fromUtf8(root_))});
        QCOMPARE(w.paths(), Paths{"/m/a.mp3"});
    }
    void saveListThenLoadListGivesBackTheSamePathsByteForByte() {
        const Paths names = {"/m/\xE9t\xE9.mp3", "/m/\xFF.wav", "/m/ok.mid"};
        writePlaylist(names.join("\r\n") + "\r\n");
        Windows w;
        DialogStandIn standIn;
        standIn.open = [&](QFileDialog*) {
            return std::optional(std::vector<QByteArray>{root_ + "/saved.plf"});
        };
        standIn.save = [&](QFileDialog*) -> std::optional<QByteArray> {
            return root_ + "/saved.plf";
        };
        SetDialogStandIn(standIn);
        w.f2->Savelist1Click();
        w.f2->Newlist1Click();
        w.f2->LoadList1Click();
        QCOMPARE(w.paths(), names);
    }

    void loadListAndAddToListTakeTheEntriesOfOtherPlayersLists() {
        makeFolder(root_ + "/album");
        writeBytes(root_ + "/album/Album.M3U8", "\xEF\xBB\xBF#EXTM3U\r\n"
                                                "#EXTINF:200,Band - One\r\n"
                                                "01 one.mp3\r\n"
                                                "#EXTINF:-1,Radio\r\n"
                                                "http://radio.example/live\r\n"
                                                "file:///m/caf%C3%A9.wav\r\n");
        writeBytes(root_ + "/album/list.pls", "[playlist]\nFile2=/m/two.mid\nFile1=/m/one.wav\n");
        writeBytes(root_ + "/album/list.xspf",
                   "<playlist xmlns=\"http://xspf.org/ns/0/\"><trackList><track>"
                   "<location>file:///m/x%FF.mp3</location></track></trackList></playlist>");
        writePlaylist("/m/old.mp3\r\n");
        Windows w;
        QByteArray chosen = root_ + "/album/Album.M3U8";
        answerOpen([&](QFileDialog*) { return std::optional(std::vector<QByteArray>{chosen}); });
        w.f2->LoadList1Click();
        QCOMPARE(w.paths(), (Paths{root_ + "/album/01 one.mp3", "/m/caf\xC3\xA9.wav"}));
        QCOMPARE(displayLines(w.list()), (QStringList{"1. 01 one.mp3", "2. caf\u00E9.wav"}));
        chosen = root_ + "/album/list.pls";
        w.f2->Addtolist1Click();
        chosen = root_ + "/album/list.xspf";
        w.f2->Addtolist1Click();
        QCOMPARE(w.paths().mid(2), (Paths{"/m/one.wav", "/m/two.mid", "/m/x\xFF.mp3"}));
        QCOMPARE(w.caption(), QStringLiteral("Play List: 5 items"));
    }
    void saveListAsM3u8ThenLoadListGivesBackTheSamePaths() {
        const Paths names = {"/m/\xE9t\xE9.mp3", "/m/caf\xC3\xA9.wav", "/m/100% end .mid"};
        writePlaylist(names.join("\r\n") + "\r\n");
        Windows w;
        const QByteArray file = root_ + "/saved.m3u8";
        DialogStandIn standIn;
        QString filter;
        standIn.open = [&](QFileDialog*) { return std::optional(std::vector<QByteArray>{file}); };
        standIn.save = [&](QFileDialog* dialog) -> std::optional<QByteArray> {
            filter = dialog->property("filterText").toString();
            return file;
        };
        SetDialogStandIn(standIn);
        w.f2->Savelist1Click();
        QCOMPARE(filter, SaveFilter);
        QVERIFY(readBytes(file).startsWith("#EXTM3U\n#EXTINF:-1,"));
        w.f2->Newlist1Click();
        w.f2->LoadList1Click();
        QCOMPARE(w.paths(), names);
    }

    // --- "Add File(s)" ---
    void addFilesAddsEveryChosenFileAndMakesTheFirstCurrentOnAnEmptyList() {
        Windows w;
        QString filter;
        answerOpen([&](QFileDialog* dialog) {
            filter = dialog->property("filterText").toString();
            return std::optional(std::vector<QByteArray>{"/m/notes.txt", "/m/b.mp3"});
        });
        w.f2->AddFiles1Click();
        QCOMPARE(filter, MediaFilter);
        QCOMPARE(w.paths(), (Paths{"/m/notes.txt", "/m/b.mp3"}));
        QCOMPARE(displayLines(w.list()), (QStringList{"1. notes.txt", "2. b.mp3"}));
        QCOMPARE(w.list().CurrentIndex(), 0);
        QCOMPARE(w.caption(), QStringLiteral("Play List: 2 items"));
    }
    void addFilesKeepsAnExistingCurrentEntry() {
        writePlaylist("/m/a.mp3\r\n/m/b.mp3\r\n");
        Windows w;
        w.list().SetCurrentIndex(1);
        answerOpen([](QFileDialog*) { return std::optional(std::vector<QByteArray>{"/m/c.mp3"}); });
        w.f2->AddFiles1Click();
        QCOMPARE(w.list().CurrentIndex(), 1);
        QCOMPARE(w.list().HighlightedRow(), -1);
        QCOMPARE(w.caption(), QStringLiteral("Play List: 3 items"));
    }
    void cancellingAddFilesAddsNothingButRenumbers() {
        writePlaylist("/m/a.mp3\r\n");
        Windows w;
        w.list().SetCurrentIndex(0);
        answerOpen([](QFileDialog*) { return std::optional<std::vector<QByteArray>>(); });
        w.f2->AddFiles1Click();
        QCOMPARE(w.list().EntryCount(), 1);
        QCOMPARE(w.list().HighlightedRow(), -1);
    }

    // --- "Add Folder" and "Include Subfolder" ---
    void includeSubfolderIsCheckedAtStartAndTogglesBack() {
        Windows w;
        QVERIFY(w.f2->IncludeSubfolder1->isChecked());
        w.f2->IncludeSubfolder1Click();
        QVERIFY(!w.f2->IncludeSubfolder1->isChecked());
        w.f2->IncludeSubfolder1Click();
        QVERIFY(w.f2->IncludeSubfolder1->isChecked());
    }
    void addFolderSearchesTheTreeFromTheCurrentFolderAndMovesThere() {
        // A (a1.mp3, notes.txt, SONG.MP3), A/B (b1.mp3), A/C (c1.mp3), A/.hidden (h.mp3)
        const QByteArray a = root_ + "/A";
        makeFolder(a);
        for (const char* sub : {"/B", "/C", "/.hidden", "/my.folder"})
            makeFolder(a + sub);
        for (const char* file : {"/a1.mp3", "/notes.txt", "/B/b1.mp3", "/C/c1.mp3",
                                 "/.hidden/h.mp3", "/my.folder/readme"})
            touch(a + file);
        const Paths expected = {a + "/a1.mp3", a + "/B/b1.mp3", a + "/C/c1.mp3"};

        writePlaylist("/m/old.mp3\r\n");
        Windows w;
        QString title;
        QByteArray start;
        answerFolder([&](const QString& t, const QByteArray& s) {
            title = t;
            start = s;
            return std::optional(a);
        });
        w.f2->AddFolder1Click();
        QCOMPARE(title, QStringLiteral("Search files on folder"));
        QCOMPARE(start, startFolder_);
        QCOMPARE(currentFolder(), a);
        QCOMPARE(w.paths(), Paths{"/m/old.mp3"} + expected);
        QCOMPARE(w.list().CurrentIndex(), 0);
        QCOMPARE(w.list().HighlightedRow(), -1);
        QCOMPARE(w.caption(), QStringLiteral("Play List: 4 items"));

        // The next search starts where the last one was made.
        w.f2->AddFolder1Click();
        QCOMPARE(start, a);
    }
    void addFolderWithoutSubfoldersAddsOnlyTheFolderOwnMediaFiles() {
        makeFolder(root_ + "/A");
        makeFolder(root_ + "/A/B");
        touch(root_ + "/A/a1.mp3");
        touch(root_ + "/A/B/b1.mp3");
        Windows w;
        w.f2->IncludeSubfolder1Click();
        answerFolder(
            [&](const QString&, const QByteArray&) { return std::optional(root_ + "/A"); });
        w.f2->AddFolder1Click();
        QCOMPARE(w.paths(), Paths{root_ + "/A/a1.mp3"});
        QCOMPARE(w.list().CurrentIndex(), -1);
    }
    void cancellingAddFolderChangesNothing() {
        writePlaylist("/m/a.mp3\r\n/m/b.mp3\r\n");
        Windows w;
        w.list().SetCurrentIndex(1);
        w.f2->setWindowTitle(QStringLiteral("unchanged"));
        answerFolder([](const QString&, const QByteArray&) { return std::optional<QByteArray>(); });
        w.f2->AddFolder1Click();
        QCOMPARE(w.list().EntryCount(), 2);
        QCOMPARE(w.list().HighlightedRow(), 1);
        QCOMPARE(w.caption(), QStringLiteral("unchanged"));
        QCOMPARE(currentFolder(), startFolder_);
    }

    // --- drops from a file manager ---
    void theListAcceptsDropsAlsoAfterSwitchingSelectionModes() {
        Windows w;
        QVERIFY(w.f2->ListB->acceptDrops());
        w.list().SetMultiSelect(true);
        w.list().SetMultiSelect(false);
        QVERIFY(w.f2->ListB->acceptDrops());
        touch(root_ + "/x.mp3");
        QVERIFY(dropPaths(w.f2->ListB, {root_ + "/x.mp3"}));
        QCOMPARE(w.paths(), Paths{root_ + "/x.mp3"});
    }
    void droppingThreeFilesAddsTheMediaFilesOnceEachInDropOrder() {
        for (const char* name : {"/x.mp3", "/y.txt", "/z.wav"})
            touch(root_ + name);
        writePlaylist("/m/a.mp3\r\n");
        Windows w;
        w.list().SetCurrentIndex(0);
        QVERIFY(dropPaths(w.f2->ListB, {root_ + "/z.wav", root_ + "/y.txt", root_ + "/x.mp3"}));
        QCOMPARE(w.paths(), (Paths{"/m/a.mp3", root_ + "/z.wav", root_ + "/x.mp3"}));
        QCOMPARE(displayLines(w.list()), (QStringList{"1. a.mp3", "2. z.wav", "3. x.mp3"}));
        QCOMPARE(w.caption(), QStringLiteral("Play List: 3 items"));
        QCOMPARE(w.list().CurrentIndex(), 0);
    }
    void droppingAFolderAddsOnlyTheMediaFilesDirectlyInside() {
        const QByteArray folder = root_ + "/drop";
        makeFolder(folder);
        makeFolder(folder + "/sub");
        for (const char* name : {"/one.mp3", "/two.MID", "/skip.txt", "/sub/deep.mp3"})
            touch(folder + name);
        Windows w;
        QVERIFY(w.f2->IncludeSubfolder1->isChecked());
        QVERIFY(dropPaths(w.f2->ListB, {folder}));
        QCOMPARE(w.paths(), (Paths{folder + "/one.mp3", folder + "/two.MID"}));
        QCOMPARE(w.list().CurrentIndex(), -1);
    }
    void aFileAndAFolderDroppedTogetherAreTakenInDropOrder() {
        makeFolder(root_ + "/f");
        touch(root_ + "/f/in.wav");
        touch(root_ + "/single.mp3");
        Windows w;
        QVERIFY(dropPaths(w.f2->ListB, {root_ + "/f", root_ + "/single.mp3"}));
        QCOMPARE(w.paths(), (Paths{root_ + "/f/in.wav", root_ + "/single.mp3"}));
        QVERIFY(dropPaths(w.f2->ListB, {root_ + "/single.mp3", root_ + "/f"}));
        QCOMPARE(w.paths().mid(2), (Paths{root_ + "/single.mp3", root_ + "/f/in.wav"}));
    }
    void aDroppedListOfAnotherPlayerAddsItsEntriesButADroppedPlfIsNoMedia() {
        writeBytes(root_ + "/list.m3u", "#EXTM3U\nsong.mp3\nhttp://radio/x\n/m/abs.wav\n");
        writeBytes(root_ + "/list.plf", "/m/never.mp3\r\n");
        writeBytes(root_ + "/fake.pls", "not a pls\n");
        makeFolder(root_ + "/dir");
        writeBytes(root_ + "/dir/inside.m3u", "/m/never.mp3\n");
        touch(root_ + "/x.mp3");
        Windows w;
        QVERIFY(dropPaths(w.f2->ListB, {root_ + "/x.mp3", root_ + "/list.plf", root_ + "/list.m3u",
                                        root_ + "/fake.pls", root_ + "/dir"}));
        QCOMPARE(w.paths(), (Paths{root_ + "/x.mp3", root_ + "/song.mp3", "/m/abs.wav"}));
        QCOMPARE(w.caption(), QStringLiteral("Play List: 3 items"));
    }
    void droppedNamesThatAreNotUtf8ArriveByteForByte() {
        const QByteArray name = root_ + "/\xE9t\xE9 \xFF.mp3";
        touch(name);
        Windows w;
        const bool taken = dropPaths(w.f2->ListB, {name});
        ::unlink(name.constData()); // Qt cannot remove a name it cannot decode
        QVERIFY(taken);
        QCOMPARE(w.paths(), Paths{name});
    }
    void urlsSetThroughQtArriveAsTheirPaths() {
        touch(root_ + "/a b#c.mp3");
        Windows w;
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QFile::decodeName(root_ + "/a b#c.mp3"))});
        QVERIFY(dropOn(w.f2->ListB, &data));
        QCOMPARE(w.paths(), Paths{root_ + "/a b#c.mp3"});
    }
    void aDropIsAlwaysTakenAsACopy() {
        touch(root_ + "/x.mp3");
        Windows w;
        QMimeData data;
        data.setData(QStringLiteral("text/uri-list"), fileUrl(root_ + "/x.mp3") + "\r\n");
        QVERIFY(dropOn(w.f2->ListB, &data, Qt::CopyAction | Qt::MoveAction));
        QCOMPARE(w.list().EntryCount(), 1);
    }
    void dragsWithoutLocalFilesAreRefused() {
        Windows w;
        QMimeData text;
        text.setText(QStringLiteral("/m/a.mp3"));
        QVERIFY(!dropOn(w.f2->ListB, &text));
        QMimeData web;
        web.setUrls({QUrl(QStringLiteral("https://example.org/a.mp3"))});
        QVERIFY(!dropOn(w.f2->ListB, &web));
        QCOMPARE(w.list().EntryCount(), 0);
    }
    void namesAPlaylistLineCannotHoldNeverEnter() {
        // Linux names may hold CR and LF, and a URL's %00 cuts the name that
        // stat() sees at the NUL ("a.mp3" exists here): none of them may
        // become an entry, by any way in.
        touch(root_ + "/a.mp3");
        touch(root_ + "/ok.mp3");
        touch(root_ + "/b\n.mp3");
        touch(root_ + "/c\r.wav");
        makeFolder(root_ + "/d\ne");
        touch(root_ + "/d\ne/in.mp3");
        Windows w;
        QMimeData data;
        data.setData(QStringLiteral("text/uri-list"),
                     "file://" + root_ + "/a.mp3%00.mp3\r\nfile://" + root_ +
                         "/b%0A.mp3\r\nfile://" + root_ + "/d%0Ae\r\n" +
                         fileUrl(root_ + "/ok.mp3") + "\r\n");
        QVERIFY(dropOn(w.f2->ListB, &data));
        QCOMPARE(w.paths(), Paths{root_ + "/ok.mp3"});

        answerFolder([&](const QString&, const QByteArray&) { return std::optional(root_); });
        w.f2->AddFolder1Click();
        Paths expected = {root_ + "/ok.mp3"};
        expected << root_ + "/a.mp3" << root_ + "/ok.mp3"; // folders list in name order
        QCOMPARE(w.paths(), expected);
        answerFolder(
            [&](const QString&, const QByteArray&) { return std::optional(root_ + "/d\ne"); });
        w.f2->AddFolder1Click();
        QCOMPARE(w.list().EntryCount(), 3);

        answerOpen([&](QFileDialog*) {
            return std::optional(std::vector<QByteArray>{root_ + "/b\n.mp3", root_ + "/ok.mp3"});
        });
        w.f2->AddFiles1Click();
        QCOMPARE(w.list().EntryCount(), 4);
        QCOMPARE(w.paths().last(), root_ + "/ok.mp3");
        QCOMPARE(w.caption(), QStringLiteral("Play List: 4 items"));
        QCOMPARE(DroppedPaths({QUrl("file:///m/x%00.mp3"), QUrl("file:///m/caf%E9.mp3")}),
                 std::vector<QByteArray>{"/m/caf\xe9.mp3"});
    }
    void droppedPathsThatDoNotExistAddNothing() {
        Windows w;
        QVERIFY(dropPaths(w.f2->ListB, {root_ + "/gone.mp3"}));
        QCOMPARE(w.list().EntryCount(), 0);
        QCOMPARE(w.caption(), QStringLiteral("Play List: 0 items"));
    }
};

QTEST_MAIN(AddMediaTest)
#include "tst_addmedia.moc"
