#include "desktop/OpenPaths.h"

#include "windows/MessageBox.h"
#include "player/Unit1.h"
#include "playlist/core/MediaSearch.h"
#include "playlist/core/Playlist.h"
#include "playlist/core/PlaylistFile.h"
#include "playlist/core/PlaylistFormats.h"
#include "playlist/Unit2.h"

#include <QTimer>
#include <algorithm>
#include <vector>

namespace {

bool IsPlaylistFile(const QByteArray& path) {
    return IsPlaylistName(path) && !IsFolder(path, false);
}

} // namespace

void OpenPaths(TForm1& form1, const QByteArrayList& paths) {
    TForm2& form2 = *form1.Form2;
    // The bad-file scan counts on being the only one to change the list
    // while it runs; what comes meanwhile waits for its end.
    if (form2.isScanning()) {
        QTimer::singleShot(250, &form1, [&form1, paths] { OpenPaths(form1, paths); });
        return;
    }
    const int before = form2.EntryCount();
    // Files next to each other go in as one drop, so that a file manager
    // handing over a thousand files renumbers the list once.
    std::vector<QByteArray> files;
    const auto dropFiles = [&] {
        if (!files.empty())
            form2.HandleDroppedFiles(files);
        files.clear();
    };
    for (const QByteArray& path : paths) {
        if (!IsStorablePath(path))
            continue;
        if (IsPlaylistFile(path)) {
            dropFiles();
            form2.AppendListFile(path);
        } else if (IsFolder(path, false)) {
            dropFiles();
            form2.AppendFolderFiles(path);
        } else {
            files.push_back(path);
        }
    }
    dropFiles();
    if (form2.EntryCount() > before) {
        form2.SetCurrentIndex(before);
        form1.PlayCurrentEntry();
    }
}

void RaiseMainWindow(TForm1& form1) {
    if (form1.isMinimized())
        form1.showNormal();
    form1.show();
    form1.raise();
    form1.activateWindow();
}
