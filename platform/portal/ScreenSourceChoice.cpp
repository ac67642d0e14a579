#include "platform/portal/ScreenSourceChoice.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

#include "platform/x11/XDisplay.h"
#include "platform/x11/XcbPtr.h"

namespace platform {

namespace {

bool Set(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value;
}

// Why the X11 grab would not see the desktop; empty when it would.
std::string X11Blindness()
{
    const char* name = std::getenv("DISPLAY");
    const std::string display = name && *name ? name : "";
    std::string error;
    auto x = XDisplay::Open(&error);
    if (!x)
        return display.empty() ? "no X display is set" : "the X display " + display + " does not answer";
    xcb_connection_t* conn = x->Connection();
    const char* extension = "XWAYLAND";
    XcbPtr<xcb_query_extension_reply_t> xwayland(xcb_query_extension_reply(
        conn, xcb_query_extension(conn, static_cast<uint16_t>(std::strlen(extension)), extension), nullptr));
    if (xwayland && xwayland->present)
        return "the X display " + display + " is XWayland";
    // XWayland without that extension (older servers) refuses to read its root.
    xcb_generic_error_t* e = nullptr;
    XcbPtr<xcb_get_image_reply_t> image(xcb_get_image_reply(
        conn, xcb_get_image(conn, XCB_IMAGE_FORMAT_Z_PIXMAP, x->Root(), 0, 0, 1, 1, ~0u), &e));
    if (e || !image) {
        std::free(e);
        return "the X display " + display + " cannot read its root window";
    }
    return "";
}

}  // namespace

const char* ScreenSourceName(ScreenSourceKind kind)
{
    return kind == ScreenSourceKind::Portal ? "portal" : "x11";
}

ScreenSourceChoice ChooseScreenSource(const char* forced)
{
    if (forced && std::strcmp(forced, "portal") == 0)
        return {ScreenSourceKind::Portal, "the portal was asked for"};
    if (forced && std::strcmp(forced, "x11") == 0)
        return {ScreenSourceKind::X11, "the X11 grab was asked for"};
    std::string session;
    if (Set("WAYLAND_DISPLAY"))
        session = "WAYLAND_DISPLAY is set";
    else if (const char* type = std::getenv("XDG_SESSION_TYPE"); type && std::strcmp(type, "wayland") == 0)
        session = "XDG_SESSION_TYPE is wayland";
    else
        return {ScreenSourceKind::X11, "the session is not Wayland"};
    const std::string blind = X11Blindness();
    if (blind.empty()) {
        const char* display = std::getenv("DISPLAY");
        return {ScreenSourceKind::X11,
                session + ", but the X display " + (display ? display : "") + " shows its own desktop"};
    }
    return {ScreenSourceKind::Portal, session + " and " + blind};
}

ScreenSourceChoice ChooseScreenSource()
{
    return ChooseScreenSource(std::getenv("TAVREC_SCREEN_SOURCE"));
}

}  // namespace platform
