#include "platform/x11/XDisplay.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

#include "platform/x11/XDisplayError.h"

namespace platform {

struct XDisplay::Impl {
    xcb_connection_t* conn = nullptr;
    xcb_screen_t* screen = nullptr;
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
    uint32_t messageAtom = 0;
    std::string lastError;

    ~Impl()
    {
        if (conn)
            xcb_disconnect(conn);
    }

    bool Broken()
    {
        if (!xcb_connection_has_error(conn))
            return false;
        lastError = DescribeXFailure("X request", conn);
        return true;
    }
};

namespace {

std::string DisplayName()
{
    const char* name = std::getenv("DISPLAY");
    return name && *name ? name : "";
}

}  // namespace

std::unique_ptr<XDisplay> XDisplay::Open(std::string* error)
{
    std::string ignored;
    std::string& err = error ? *error : ignored;
    auto impl = std::make_unique<Impl>();
    int screenNumber = 0;
    impl->conn = xcb_connect(nullptr, &screenNumber);
    if (const int code = xcb_connection_has_error(impl->conn)) {
        const std::string name = DisplayName();
        err = name.empty() ? "cannot open the X display: DISPLAY is not set"
                           : "cannot open the X display \"" + name + "\" (xcb error " +
                                 std::to_string(code) + ")";
        return nullptr;
    }
    const xcb_setup_t* setup = xcb_get_setup(impl->conn);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    if (!it.rem) {
        err = "the X display has no screen " + std::to_string(screenNumber);
        return nullptr;
    }
    impl->screen = it.data;
    impl->width = impl->screen->width_in_pixels;
    impl->height = impl->screen->height_in_pixels;

    for (xcb_format_iterator_t f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f)) {
        if (f.data->depth == impl->screen->root_depth)
            impl->bitsPerPixel = f.data->bits_per_pixel;
    }
    if (impl->bitsPerPixel == 0) {
        err = "the X server lists no pixmap format for the root depth " +
              std::to_string(impl->screen->root_depth);
        return nullptr;
    }

    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(impl->conn, 0, std::strlen(kMessageAtomName), kMessageAtomName);
    auto atom = XcbReply(impl->conn, cookie, xcb_intern_atom_reply,
                         std::string("InternAtom ") + kMessageAtomName, &err);
    if (!atom)
        return nullptr;
    impl->messageAtom = atom->atom;
    return std::unique_ptr<XDisplay>(new XDisplay(std::move(impl)));
}

XDisplay::XDisplay(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
XDisplay::~XDisplay() = default;

xcb_connection_t* XDisplay::Connection() const { return impl_->conn; }
WindowId XDisplay::Root() const { return impl_->screen->root; }
int XDisplay::ScreenWidth() const { return impl_->width; }
int XDisplay::ScreenHeight() const { return impl_->height; }
int XDisplay::RootDepth() const { return impl_->screen->root_depth; }
int XDisplay::RootBitsPerPixel() const { return impl_->bitsPerPixel; }
uint32_t XDisplay::MessageAtom() const { return impl_->messageAtom; }
const std::string& XDisplay::LastError() const { return impl_->lastError; }

WindowId XDisplay::TopLevelOf(WindowId window)
{
    if (impl_->Broken())
        return 0;
    const WindowId root = Root();
    if (window == root)
        return root;
    // Walk up until the parent is the root; a window manager's frame is that ancestor.
    for (WindowId current = window;;) {
        auto tree = XcbReply(impl_->conn, xcb_query_tree(impl_->conn, current), xcb_query_tree_reply,
                             "QueryTree", &impl_->lastError);
        if (!tree)
            return 0;
        if (tree->parent == root || tree->parent == XCB_NONE)
            return current;
        current = tree->parent;
    }
}

bool XDisplay::GetWindowRect(WindowId window, RectL* rect)
{
    if (impl_->Broken())
        return false;
    const WindowId top = TopLevelOf(window);
    if (top == 0)
        return false;
    auto geometry = XcbReply(impl_->conn, xcb_get_geometry(impl_->conn, top), xcb_get_geometry_reply,
                             "GetGeometry", &impl_->lastError);
    if (!geometry)
        return false;
    if (top == Root()) {
        // The root's size follows screen size changes (RandR); keep the cached one current.
        impl_->width = geometry->width;
        impl_->height = geometry->height;
        *rect = RectL{0, 0, geometry->width, geometry->height};
        return true;
    }
    // A child of the root: its position is that of its outer border corner in root
    // coordinates, and the border runs around the inside on every side.
    const int border = 2 * geometry->border_width;
    rect->left = geometry->x;
    rect->top = geometry->y;
    rect->right = geometry->x + geometry->width + border;
    rect->bottom = geometry->y + geometry->height + border;
    return true;
}

WindowId XDisplay::WindowUnderPointer()
{
    if (impl_->Broken())
        return 0;
    auto pointer = XcbReply(impl_->conn, xcb_query_pointer(impl_->conn, Root()), xcb_query_pointer_reply,
                            "QueryPointer", &impl_->lastError);
    if (!pointer)
        return 0;
    return pointer->child != XCB_NONE ? pointer->child : Root();
}

bool XDisplay::QueryPointer(int* x, int* y)
{
    if (impl_->Broken())
        return false;
    auto pointer = XcbReply(impl_->conn, xcb_query_pointer(impl_->conn, Root()), xcb_query_pointer_reply,
                            "QueryPointer", &impl_->lastError);
    if (!pointer)
        return false;
    *x = pointer->root_x;
    *y = pointer->root_y;
    return true;
}

bool XDisplay::WindowExists(WindowId window)
{
    if (impl_->Broken())
        return false;
    auto attributes = XcbReply(impl_->conn, xcb_get_window_attributes(impl_->conn, window),
                               xcb_get_window_attributes_reply, "GetWindowAttributes", &impl_->lastError);
    return attributes != nullptr;
}

bool XDisplay::PostMessage(WindowId window, uint32_t message, int32_t wParam, int32_t lParam)
{
    if (impl_->Broken())
        return false;
    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = impl_->messageAtom;
    event.data.data32[0] = message;
    event.data.data32[1] = static_cast<uint32_t>(wParam);
    event.data.data32[2] = static_cast<uint32_t>(lParam);
    // The receiver handles the message later; checking the request only costs one
    // round trip and tells a vanished window apart, as a failed post should.
    const xcb_void_cookie_t cookie = xcb_send_event_checked(impl_->conn, 0, window, XCB_EVENT_MASK_NO_EVENT,
                                                            reinterpret_cast<const char*>(&event));
    return XcbCheck(impl_->conn, cookie, "SendEvent " + std::string(kMessageAtomName), &impl_->lastError);
}

bool PostWindowMessage(WindowId window, uint32_t message, int32_t wParam, int32_t lParam)
{
    auto display = XDisplay::Open();
    return display && display->PostMessage(window, message, wParam, lParam);
}

}  // namespace platform
