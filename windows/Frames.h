#pragma once

#include <QMargins>
#include <QRect>
#include <functional>

class QObject;
class QWidget;
struct xcb_connection_t;

// The program's connection to the X server; null on another platform.
xcb_connection_t* XConnection();

// What the window manager draws around a top-level window: the extents it
// announces on the window (_NET_FRAME_EXTENTS) where it does, else what Qt
// has found; nothing before the window is framed or without a window manager.
QMargins FrameMargins(const QWidget* window);

// The window with its frame, where it stands on the screen.
QRect OuterGeometry(const QWidget* window);

// Calls `changed` whenever the window manager announces new frame extents for
// `window`, as long as `owner` lives. Qt itself learns of a frame only when
// the window is moved or resized after it, which a window manager that
// frames a window in place (Openbox) never does.
void WatchFrame(QWidget* window, QObject* owner, std::function<void()> changed);
