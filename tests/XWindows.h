#pragma once

// The program's windows as the X server has them, for the tests that check
// what a window manager did with them: found by title in the window tree
// (a window manager's frames hold the clients), with the frames around them.

#include <QByteArray>
#include <QRect>
#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

namespace TestSupport {

inline xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
    auto* reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, strlen(name), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

// Up to 4 MiB of it: enough for an icon in every size.
inline QByteArray Property(xcb_connection_t* c, xcb_window_t window, const char* name) {
    auto* reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, Atom(c, name), XCB_GET_PROPERTY_TYPE_ANY, 0, 1 << 20),
        nullptr);
    const QByteArray value =
        reply ? QByteArray(static_cast<const char*>(xcb_get_property_value(reply)),
                           xcb_get_property_value_length(reply))
              : QByteArray();
    std::free(reply);
    return value;
}

// A window manager's protocol message (WM_DELETE_WINDOW, _NET_WM_PING ...).
inline void SendProtocol(xcb_connection_t* c, xcb_window_t window, const char* protocol,
                         quint32 stamp = XCB_CURRENT_TIME) {
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = Atom(c, "WM_PROTOCOLS");
    message.data.data32[0] = Atom(c, protocol);
    message.data.data32[1] = stamp;
    message.data.data32[2] = window;
    xcb_send_event(c, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
    xcb_flush(c);
}

class XWindows {
public:
    // On the display named, or on $DISPLAY.
    explicit XWindows(const QByteArray& display = {})
        : c_(xcb_connect(display.isEmpty() ? nullptr : display.constData(), nullptr)) {
        if (!xcb_connection_has_error(c_))
            root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
    }
    ~XWindows() { xcb_disconnect(c_); }
    XWindows(const XWindows&) = delete;
    XWindows& operator=(const XWindows&) = delete;

    bool connected() const { return root_ != XCB_WINDOW_NONE; }

    // A window manager that follows the desktop conventions says so on the
    // root window once it has taken the display.
    // The root names a window that names itself; a window manager that has
    // gone leaves the root naming a window that is no more.
    bool hasConventionalWindowManager() const {
        const QByteArray check = property(root_, "_NET_SUPPORTING_WM_CHECK");
        if (check.size() != sizeof(xcb_window_t))
            return false;
        xcb_window_t window;
        std::memcpy(&window, check.constData(), sizeof window);
        return property(window, "_NET_SUPPORTING_WM_CHECK") == check;
    }

    // The first window whose title starts with `title`, or none.
    xcb_window_t find(const QByteArray& title) const { return findBelow(root_, title); }

    // The window's frame on the screen: its ancestor among the root's
    // children, border included (the window itself when unframed).
    QRect frame(xcb_window_t window) const {
        xcb_window_t top = window;
        for (;;) {
            auto* tree = xcb_query_tree_reply(c_, xcb_query_tree(c_, top), nullptr);
            if (!tree)
                return {};
            const xcb_window_t parent = tree->parent;
            std::free(tree);
            if (parent == root_ || parent == XCB_WINDOW_NONE)
                break;
            top = parent;
        }
        auto* geometry = xcb_get_geometry_reply(c_, xcb_get_geometry(c_, top), nullptr);
        if (!geometry)
            return {};
        const int border = geometry->border_width;
        const QRect frame(geometry->x, geometry->y, geometry->width + 2 * border,
                          geometry->height + 2 * border);
        std::free(geometry);
        return frame;
    }

    QByteArray property(xcb_window_t window, const char* name) const {
        return Property(c_, window, name);
    }

private:
    xcb_atom_t atom(const char* name) const { return Atom(c_, name); }

    xcb_window_t findBelow(xcb_window_t parent, const QByteArray& title) const {
        auto* tree = xcb_query_tree_reply(c_, xcb_query_tree(c_, parent), nullptr);
        xcb_window_t found = XCB_WINDOW_NONE;
        for (int i = 0; tree && i < xcb_query_tree_children_length(tree) && !found; ++i) {
            const xcb_window_t child = xcb_query_tree_children(tree)[i];
            if (property(child, "WM_NAME").startsWith(title))
                found = child;
            else
                found = findBelow(child, title);
        }
        std::free(tree);
        return found;
    }

    xcb_connection_t* c_;
    xcb_window_t root_ = XCB_WINDOW_NONE;
};

} // namespace TestSupport
