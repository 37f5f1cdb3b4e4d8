#pragma once

// The program's windows as the X server has them, read as a window manager
// reads them: found by title in the window tree (a window manager's frames
// hold the clients), with their frames and properties.

#include <QByteArray>
#include <QRect>
#include <cstdlib>
#include <cstring>
#include <functional>
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
        : c(xcb_connect(display.isEmpty() ? nullptr : display.constData(), nullptr)) {
        if (!xcb_connection_has_error(c))
            root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    }
    ~XWindows() { xcb_disconnect(c); }
    XWindows(const XWindows&) = delete;
    XWindows& operator=(const XWindows&) = delete;

    bool connected() const { return root != XCB_WINDOW_NONE; }
    QByteArray property(xcb_window_t window, const char* name) const {
        return Property(c, window, name);
    }

    // A window manager that follows the desktop conventions names a window
    // on the root that names itself; one that has gone leaves the root
    // naming a window that is no more.
    bool hasConventionalWindowManager() const {
        const QByteArray check = property(root, "_NET_SUPPORTING_WM_CHECK");
        return check.size() == sizeof(xcb_window_t) &&
               property(*reinterpret_cast<const xcb_window_t*>(check.constData()),
                        "_NET_SUPPORTING_WM_CHECK") == check;
    }

    // The first shown window whose title starts with `title`, or none.
    xcb_window_t find(const QByteArray& title) const {
        return findBelow(root, [&](xcb_window_t window) {
            return viewable(window) && property(window, "WM_NAME").startsWith(title);
        });
    }
    // Shown windows that a video sink made for itself.
    int strangers() const {
        int count = 0;
        findBelow(root, [&](xcb_window_t window) {
            count += viewable(window) && (property(window, "WM_NAME") == "tolvane" ||
                                          property(window, "WM_CLASS").contains("GStreamer"));
            return false;
        });
        return count;
    }

    bool viewable(xcb_window_t window) const {
        auto* reply =
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr);
        const bool shown = reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(reply);
        return shown;
    }
    // Within its parent, border included.
    QRect geometry(xcb_window_t window) const {
        auto* reply = xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr);
        const int border = reply ? reply->border_width : 0;
        const QRect place =
            reply ? QRect(reply->x, reply->y, reply->width + 2 * border, reply->height + 2 * border)
                  : QRect();
        std::free(reply);
        return place;
    }
    // The window's frame on the screen: its ancestor among the root's
    // children (the window itself when unframed).
    QRect frame(xcb_window_t window) const {
        for (;;) {
            auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr);
            const xcb_window_t parent = tree ? tree->parent : xcb_window_t(XCB_WINDOW_NONE);
            std::free(tree);
            if (parent == root || parent == XCB_WINDOW_NONE)
                return geometry(window);
            window = parent;
        }
    }
    xcb_connection_t* const c;
    xcb_window_t root = XCB_WINDOW_NONE;

private:
    xcb_window_t findBelow(xcb_window_t parent,
                           const std::function<bool(xcb_window_t)>& wanted) const {
        auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, parent), nullptr);
        xcb_window_t found = XCB_WINDOW_NONE;
        for (int i = 0; tree && i < xcb_query_tree_children_length(tree) && !found; ++i) {
            const xcb_window_t child = xcb_query_tree_children(tree)[i];
            found = wanted(child) ? child : findBelow(child, wanted);
        }
        std::free(tree);
        return found;
    }
};

} // namespace TestSupport
