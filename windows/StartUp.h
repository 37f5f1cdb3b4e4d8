#pragma once

#include <functional>

class QWidget;

// How much of their start a window's constructor does. Whole: everything,
// so that the window is complete when the constructor returns. FirstFrame:
// only what the first frame shows; the rest (reading the system volume,
// building views that start hidden) waits for the window's FinishStartUp,
// which the program calls once its windows are on the screen, so that the
// player appears sooner.
enum class StartUp { Whole, FirstFrame };

// Runs `work` once, right after the first paint of `widget` has been
// handled, or after latestMs should the widget not be painted by then (a
// window that is never mapped). Nothing runs once the widget is gone.
void AfterFirstPaint(QWidget* widget, std::function<void()> work, int latestMs = 1000);
