#include "annotate/XConnection.h"

#include "platform/x11/XDisplayError.h"

namespace annotate {

std::unique_ptr<XConnection> XConnection::Open(std::string* error)
{
    auto display = platform::XDisplay::Open(error);
    if (!display)
        return nullptr;
    return std::unique_ptr<XConnection>(new XConnection(std::move(display)));
}

// The screen whose root the display uses, and its number (for per-screen selections).
XConnection::XConnection(std::unique_ptr<platform::XDisplay> display) : display_(std::move(display))
{
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(Get()));
    for (int i = 0; it.rem; ++i, xcb_screen_next(&it))
        if (it.data->root == display_->Root()) {
            screen_ = it.data;
            screenNumber_ = i;
            break;
        }
}

bool XConnection::Check(xcb_void_cookie_t cookie, const char* what)
{
    return platform::XcbCheck(Get(), cookie, what, &lastError_);
}

bool XConnection::Sync()
{
    auto reply = platform::XcbReply(Get(), xcb_get_input_focus(Get()), xcb_get_input_focus_reply,
                                    "GetInputFocus", &lastError_);
    return reply != nullptr;
}

xcb_atom_t XConnection::Atom(const std::string& name)
{
    auto reply = platform::XcbReply(
        Get(), xcb_intern_atom(Get(), 0, static_cast<uint16_t>(name.size()), name.c_str()),
        xcb_intern_atom_reply, "InternAtom " + name, &lastError_);
    return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

}  // namespace annotate
