#include "windows/Frames.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QTimer>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>
#include <cstdlib>
#include <xcb/xcb.h>

namespace {

xcb_atom_t frameExtentsAtom(xcb_connection_t* c) {
    static xcb_atom_t atom = XCB_ATOM_NONE;
    if (atom == XCB_ATOM_NONE) {
        static const char name[] = "_NET_FRAME_EXTENTS";
        auto* reply =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof name - 1, name), nullptr);
        if (reply)
            atom = reply->atom;
        std::free(reply);
    }
    return atom;
}

// The extents the window manager has set on the window, if it has.
bool announcedExtents(const QWidget* window, QMargins& extents) {
    xcb_connection_t* c = XConnection();
    if (!c || !window->testAttribute(Qt::WA_WState_Created))
        return false;
    const auto id = xcb_window_t(window->winId());
    auto* reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, id, frameExtentsAtom(c), XCB_ATOM_CARDINAL, 0, 4), nullptr);
    const bool found = reply && reply->format == 32 && reply->value_len == 4;
    if (found) {
        // Left, right, top, bottom.
        const auto* v = static_cast<const quint32*>(xcb_get_property_value(reply));
        extents = QMargins(int(v[0]), int(v[2]), int(v[1]), int(v[3]));
    }
    std::free(reply);
    return found;
}

class FrameWatch : public QObject, public QAbstractNativeEventFilter {
public:
    FrameWatch(QWidget* window, QObject* owner, std::function<void()> changed)
        : QObject(owner), window_(xcb_window_t(window->winId())), changed_(std::move(changed)) {
        if (xcb_connection_t* c = XConnection())
            atom_ = frameExtentsAtom(c);
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~FrameWatch() override {
        if (QCoreApplication* application = QCoreApplication::instance())
            application->removeNativeEventFilter(this);
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (atom_ == XCB_ATOM_NONE || type != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
            return false;
        const auto* notify = static_cast<const xcb_property_notify_event_t*>(message);
        // Run once Qt has handled the events before it: a move the window
        // manager made with the same frame is then known.
        if (notify->window == window_ && notify->atom == atom_)
            QTimer::singleShot(0, this, changed_);
        return false;
    }

private:
    xcb_window_t window_;
    xcb_atom_t atom_ = XCB_ATOM_NONE;
    std::function<void()> changed_;
};

} // namespace

xcb_connection_t* XConnection() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

QMargins FrameMargins(const QWidget* window) {
    QMargins extents;
    if (announcedExtents(window, extents))
        return extents;
    const QRect outer = window->frameGeometry(), inner = window->geometry();
    return {inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
            outer.bottom() - inner.bottom()};
}

QRect OuterGeometry(const QWidget* window) {
    return window->geometry().marginsAdded(FrameMargins(window));
}

void WatchFrame(QWidget* window, QObject* owner, std::function<void()> changed) {
    if (XConnection())
        new FrameWatch(window, owner, std::move(changed));
}
