#pragma once

#include "TestSupport.h"
#include "player/Unit1.h"
#include "playlist/Unit2.h"

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <memory>

namespace TestSupport {

namespace Detail {
// The main window, shown before the playlist window that places itself
// below it is built; a base of PlaylistWindow so that it is built first and
// goes last.
struct ShownMainWindow {
    ShownMainWindow();
    TForm1 mainWindow_;
};
} // namespace Detail

// The playlist window as the program entry opens it: below its main window,
// shown, which it owns here. The two windows are built in this one place, so
// that a test reads
//     TestSupport::PlaylistWindow f2;
//     TForm1& f1 = f2.mainWindow(); // where the case needs the main window
class PlaylistWindow : private Detail::ShownMainWindow, public TForm2 {
public:
    PlaylistWindow();

    TForm1& mainWindow() { return mainWindow_; }
};

// What the cases that play through the windows share: fresh windows for each
// case, and its message boxes recorded, an error box failing the case. A test
// class takes it as a second base, calls openWindows() from init() and
// closeWindows() from cleanup().
class PlayingWindows {
protected:
    void openWindows();
    void closeWindows();
    // Fills the playlist (Fill).
    void load(const QList<QByteArray>& paths);

    QPointer<TForm1> form1;
    QPointer<TForm2> form2;

private:
    std::unique_ptr<PlaylistWindow> windows_;
    std::unique_ptr<MessageRecorder> messages_;
};

// Puts the paths at the end of the playlist, numbered and counted in the
// caption, as the window's own commands leave it.
void Fill(TForm2& f2, const QList<QByteArray>& paths);

} // namespace TestSupport
