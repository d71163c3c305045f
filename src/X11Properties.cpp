#include "X11Properties.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace {

struct FreeDeleter {
    void operator()(void* data) const { std::free(data); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter>;

xcb_connection_t* connection() {
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

// The root window of the toolkit's primary screen.
xcb_window_t root(xcb_connection_t* c) {
    return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
}

xcb_atom_t atom(xcb_connection_t* c, const char* name, std::size_t length, bool onlyIfExists) {
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, onlyIfExists, static_cast<uint16_t>(length), name), nullptr));
    return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

constexpr char kCurrentAppWindow[] = "_MB_CURRENT_APP_WINDOW";
constexpr char kPortraitRequest[] = "_HILDON_PORTRAIT_MODE_REQUEST";

} // namespace

void X11Properties::watchRoot() {
    xcb_connection_t* c = connection();
    if (!c) return;
    const xcb_window_t window = root(c);
    Reply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr));
    if (!attributes) return;
    const uint32_t mask = attributes->your_event_mask | XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(c, window, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);
}

bool X11Properties::writePortraitRequest(TUint32 value) {
    xcb_connection_t* c = connection();
    if (!c) return true;
    const xcb_atom_t request = atom(c, kPortraitRequest, sizeof kPortraitRequest - 1, true);
    if (request == XCB_ATOM_NONE) return true;
    Reply<xcb_generic_error_t> error(
        xcb_request_check(c, xcb_change_property_checked(c, XCB_PROP_MODE_REPLACE, root(c), request,
                                                         XCB_ATOM_CARDINAL, 32, 1, &value)));
    return !error;
}

std::optional<TUint32> X11Properties::currentAppWindowChange(const void* xcbEvent) {
    const auto* event = static_cast<const xcb_generic_event_t*>(xcbEvent);
    if ((event->response_type & 0x7F) != XCB_PROPERTY_NOTIFY) return std::nullopt;
    const auto* notify = static_cast<const xcb_property_notify_event_t*>(xcbEvent);
    xcb_connection_t* c = connection();
    if (!c || notify->window != root(c) || notify->state != XCB_PROPERTY_NEW_VALUE)
        return std::nullopt;
    // Interned once: the atom of a name never changes while the server runs.
    static const xcb_atom_t currentAppWindow =
        atom(c, kCurrentAppWindow, sizeof kCurrentAppWindow - 1, false);
    if (notify->atom != currentAppWindow) return std::nullopt;
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, notify->window, currentAppWindow, XCB_ATOM_WINDOW, 0, 0x7fffffff),
        nullptr));
    if (!reply || reply->type != XCB_ATOM_WINDOW || reply->format != 32 ||
        xcb_get_property_value_length(reply.get()) < 4)
        return std::nullopt;
    return *static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
}
