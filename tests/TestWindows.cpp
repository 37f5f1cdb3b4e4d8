#include "TestWindows.h"

#include "playlist/Unit2.h"

namespace TestSupport {

// The playlist window places itself below the main window, which must be
// shown by then.
MainWindow::MainWindow() {
    show();
    playlist_ = std::make_unique<TForm2>(this);
}

// The playlist window goes first, as it would as the later of two locals.
MainWindow::~MainWindow() = default;

} // namespace TestSupport
