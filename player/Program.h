#pragma once

#include <functional>

class QApplication;
class QWidget;

// The player from its command line to the end of its event loop: the main
// window first (it becomes the application's main window), then the
// playlist window below it; the alarm window is built when first shown.
// `started`, when
// given, is called as soon as the application object exists, before any
// window is made, so that a caller can watch what follows.
int RunPlayer(int argc, char* argv[], const std::function<void(QApplication&)>& started = {});

// Runs `work` once, right after the first paint of `widget` has been
// handled, or after latestMs should the widget not be painted by then (a
// window that is never mapped). Nothing runs once the widget is gone.
void AfterFirstPaint(QWidget* widget, std::function<void()> work, int latestMs = 1000);
