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

#include <QFileDialog>
#include <cerrno>
#include <climits>
#include <exception>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString ListFilter = QStringLiteral("Play list files (*.plf)|*.plf");

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
        SetDialogFilter(SD, ListFilter);
        // The name is taken as typed, and an existing file is replaced
        // without a question.
        SD->setDefaultSuffix(QString());
        SD->setOption(QFileDialog::DontConfirmOverwrite, true);
        if (const auto chosen = ShowSaveDialog(SD))
            SaveListFile(*chosen, Lists->Paths());
    });
}

// Runs a list command's reading step, then refreshes the caption and the
// numbering in every case, and only then reports what failed: after a failed
// "Load List" the list has been cleared, and the caption must say so.
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
            // The old list goes before the new one is read, also when the
            // read fails; only a file too large to be a playlist is refused
            // before anything is touched.
            PathList lines;
            try {
                lines = ReadListFile(path);
            } catch (const EFileTooLarge&) {
                throw;
            } catch (...) {
                ClearEntries();
                throw;
            }
            ClearEntries();
            Lists->AppendEntries(std::move(lines));
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
            Lists->AppendEntries(ReadListFile(path));
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

void TForm2::HandleDroppedFiles(const std::vector<QByteArray>& paths) {
    RunCommand([&] {
        std::vector<QByteArray> accepted;
        for (const QByteArray& path : paths) {
            // A name a playlist line cannot hold (a URL's %0A or %00, say)
            // is left out before it is even looked up.
            if (!IsStorablePath(path))
                continue;
            // A dropped folder gives the files directly inside it; its
            // subfolders are not searched, whatever "Include Subfolder" says.
            // A path that cannot be looked up gives nothing.
            std::vector<QByteArray> candidates;
            if (!IsFolder(path, true))
                candidates.push_back(path);
            else
                candidates = FolderFiles(path);
            FilterMediaFiles(candidates);
            accepted.insert(accepted.end(), std::make_move_iterator(candidates.begin()),
                            std::make_move_iterator(candidates.end()));
        }
        Lists->AppendEntries(std::move(accepted));
    });
    RenumberList();
    UpdateCaption();
}
