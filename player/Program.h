#pragma once

#include <functional>

class QApplication;

// The player from its command line to the end of its event loop: the main
// window first (it becomes the application's main window), then the
// playlist window below it, then the hidden alarm window. `started`, when
// given, is called as soon as the application object exists, before any
// window is made, so that a caller can watch what follows.
int RunPlayer(int argc, char* argv[], const std::function<void(QApplication&)>& started = {});
