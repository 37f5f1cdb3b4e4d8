#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

// The desktop's own programs, started without waiting and never through a
// shell: the file manager on a folder, the text editor on a file or empty,
// the volume control. Each returns whether something could be started; the
// callers report nothing either way.
bool OpenFolderInFileManager(const QByteArray& folder);
bool OpenFileInTextEditor(const QByteArray& file);
bool StartTextEditor();
bool StartVolumeControl();

// Tests record the requests instead of starting programs. Each request is
// the name of the action and its argument.
using DesktopRecorder = std::function<void(const QString& action, const QByteArray& argument)>;
void SetDesktopRecorder(DesktopRecorder recorder);
