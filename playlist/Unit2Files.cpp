// Playlist files and adding media: the "&List" and "&Add" commands, drops.

#include "playlist/Unit2.h"

#include "windows/Dialogs.h"
#include "windows/MessageBox.h"
#include "platform/StatePaths.h"
#include "player/Unit1.h"
#include "playlist/core/AutomaticPlaylist.h"
#include "playlist/core/MediaSearch.h"
#include "playlist/core/Playlist.h"
#include "playlist/core/PlaylistFile.h"
#include "playlist/core/PlaylistFormats.h"
#include "playlist/ListBox.h"

#include <QFileDialog>
#include <cerrno>
#include <climits>
#include <exception>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Our own format first; the lists of other players are read too, and a list
// saved under an .m3u8 or .m3u name is written as M3U8.
const QString ListFilter = QStringLiteral("Play list files (*.plf)|*.plf|"
                                          "Playlists of other players (*.m3u;*.m3u8;*.pls;*.xspf)|"
                                          "*.m3u;*.m3u8;*.pls;*.xspf");
const QString SaveFilter =
    QStringLiteral("Play list files (*.plf)|*.plf|M3U8 playlists (*.m3u8;*.m3u)|*.m3u8;*.m3u");

// The process's current folder as bytes: a folder whose name is not valid
// UTF-8 must still be where the next "Add Folder" starts.
QByteArray CurrentFolder() {
    QByteArray folder(PATH_MAX, '\0');
    while (!::getcwd(folder.data(), size_t(folder.size()))) {
        if (errno != ERANGE)
            return {};
        folder.resize(folder.size() * 2);
    }
    folder.truncate(qsizetype(qstrlen(folder.constData())));
    return folder;
}

// Returns whether the folder could be entered.
bool SetCurrentFolder(const QByteArray& folder) {
    return ::chdir(folder.constData()) == 0;
}

// The first chosen file of an open dialog, or empty when there is none.
QByteArray FirstChosen(const std::optional<std::vector<QByteArray>>& chosen) {
    return chosen && !chosen->empty() ? chosen->front() : QByteArray();
}

} // namespace

void TForm2::Newlist1Click() {
    ClearEntries();
    UpdateCaption();
}

void TForm2::Savelist1Click() {
    RunCommand([this] {
        SetDialogFilter(SD, SaveFilter);
        // The name is taken as typed, and an existing file is replaced
        // without a question.
        SD->setDefaultSuffix(QString());
        SD->setOption(QFileDialog::DontConfirmOverwrite, true);
        if (const auto chosen = ShowSaveDialog(SD))
            SavePlaylistFile(*chosen, Lists->Paths());
    });
}

// Runs a list command's reading step, then refreshes the caption and the
// numbering in every case, and only then reports what failed.
static void ReadThenRefresh(TForm2& form, const std::function<void()>& read) {
    std::exception_ptr failure;
    try {
        read();
    } catch (...) {
        failure = std::current_exception();
    }
    form.UpdateCaption();
    form.RenumberList();
    if (failure)
        RunCommand([&failure] { std::rethrow_exception(failure); });
}

void TForm2::LoadList1Click() {
    ReadThenRefresh(*this, [this] {
        SetDialogFilter(Form1->OD, ListFilter);
        const QByteArray path = FirstChosen(ShowOpenDialog(Form1->OD));
        if (!path.isEmpty()) {
            // The new list is read in full before the old one goes: a file
            // that cannot be read (a pipe, a device, a missing file) leaves
            // the playlist as it was, and the exit does not save it empty.
            PathList lines = ReadPlaylistFile(path);
            ClearEntries();
            Lists->AppendEntries(std::move(lines));
            // A list box that is emptied and filled again shows the new
            // lines from the top, not at the old list's scroll position.
            ListB->SetFirstVisibleRow(0);
        }
    });
}

void TForm2::Addtolist1Click() {
    AppendListFile();
}

void TForm2::AppendListFile() {
    SetDialogFilter(Form1->OD, ListFilter);
    AppendListFile(FirstChosen(ShowOpenDialog(Form1->OD)));
}

void TForm2::AppendListFile(const QByteArray& path) {
    ReadThenRefresh(*this, [this, &path] {
        // Read in full before anything is added: a file that cannot be read
        // leaves the playlist as it was.
        if (!path.isEmpty())
            Lists->AppendEntries(ReadPlaylistFile(path));
    });
}

void TForm2::ReadAutomaticPlaylist() {
    automatic_ = std::make_unique<AutomaticPlaylist>(StateFolder());
    const bool read = RunCommand([&] {
        Lists->AppendEntries(automatic_->Read());
        if (EntryCount() > 0)
            SetCurrentIndex(0);
    });
    // A list that did not come in whole must not be saved over its file.
    if (!read)
        automatic_->ReadFailed();
}

void TForm2::SaveAutomaticPlaylist() {
    RunCommand([this] {
        if (automatic_)
            automatic_->Save(Lists->Paths());
    });
}

void TForm2::AddFiles1Click() {
    RunCommand([this] {
        Form1->AddFilesByDialog();
        RenumberList();
        UpdateCaption();
    });
}

void TForm2::AddFolder1Click() {
    const auto chosen =
        ShowFolderDialog(this, QStringLiteral("Search files on folder"), CurrentFolder());
    // Nothing below a folder whose name has a line break could be listed.
    if (!chosen || !IsStorablePath(*chosen))
        return;
    // The next search starts where this one was made; a folder that cannot
    // be entered is still searched.
    SetCurrentFolder(*chosen);
    AppendFolderFiles(*chosen);
}

void TForm2::AppendFolderFiles(const QByteArray& folder) {
    std::exception_ptr failure;
    try {
        // Everything is found and filtered first and appended in one step,
        // so the list is laid out once however many files there are.
        std::vector<QByteArray> found;
        SearchFiles(folder + '/', "*.*", IncludeSubfolder1->isChecked(), found);
        FilterMediaFiles(found);
        Lists->AppendEntries(std::move(found));
    } catch (...) {
        failure = std::current_exception();
    }
    RenumberList();
    UpdateCaption();
    if (failure)
        RunCommand([&failure] { std::rethrow_exception(failure); });
}

void TForm2::IncludeSubfolder1Click() {
    IncludeSubfolder1->setChecked(!IncludeSubfolder1->isChecked());
}

// A dropped playlist of another player gives its entries, as the file
// manager's user expects of a player; one that cannot be read gives nothing,
// silently, as any dropped file that is no media. A dropped .plf list stays
// what a drop has always taken it for: a file that is no media.
static std::optional<ListEntries> DroppedList(const QByteArray& path) {
    try {
        return ReadOtherPlayersList(path);
    } catch (const EFileError&) {
        return std::nullopt;
    }
}

void TForm2::HandleDroppedFiles(const std::vector<QByteArray>& paths) {
    RunCommand([&] {
        PathList accepted;
        for (const QByteArray& path : paths) {
            // A name a playlist line cannot hold (a URL's %0A or %00, say)
            // is left out before it is even looked up.
            if (!IsStorablePath(path))
                continue;
            // A dropped folder gives the files directly inside it; its
            // subfolders are not searched, whatever "Include Subfolder" says.
            // A path that cannot be looked up gives nothing.
            std::vector<QByteArray> candidates;
            if (!IsFolder(path, true)) {
                if (std::optional<ListEntries> list = DroppedList(path)) {
                    TellLeftOut(path, list->leftOut);
                    accepted.append(std::move(list->paths));
                    continue;
                }
                candidates.push_back(path);
            } else {
                candidates = FolderFiles(path);
            }
            FilterMediaFiles(candidates);
            for (const QByteArray& candidate : candidates)
                accepted.push_back(candidate);
        }
        Lists->AppendEntries(std::move(accepted));
    });
    RenumberList();
    UpdateCaption();
}
