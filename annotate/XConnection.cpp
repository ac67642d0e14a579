#include "annotate/XConnection.h"

#include "platform/XDisplayError.h"

namespace annotate {

std::unique_ptr<XConnection> XConnection::Open(std::string* error)
{
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        if (error)
            *error = "cannot connect to the X server";
        return nullptr;
    }
    std::unique_ptr<XConnection> x(new XConnection(c, screenNumber, true));
    if (!x->screen_) {
        if (error)
            *error = "the X server has no screen " + std::to_string(screenNumber);
        return nullptr;
    }
    return x;
}

std::unique_ptr<XConnection> XConnection::Borrow(xcb_connection_t* connection, int screenNumber)
{
    if (!connection || xcb_connection_has_error(connection))
        return nullptr;
    std::unique_ptr<XConnection> x(new XConnection(connection, screenNumber, false));
    return x->screen_ ? std::move(x) : nullptr;
}

XConnection::XConnection(xcb_connection_t* connection, int screenNumber, bool owned)
    : connection_(connection), screenNumber_(screenNumber), owned_(owned)
{
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    for (int i = 0; it.rem; ++i, xcb_screen_next(&it))
        if (i == screenNumber) {
            screen_ = it.data;
            break;
        }
}

XConnection::~XConnection()
{
    if (owned_)
        xcb_disconnect(connection_);
}

bool XConnection::Check(xcb_void_cookie_t cookie, const char* what)
{
    return platform::XcbCheck(connection_, cookie, what, &lastError_);
}

bool XConnection::Sync()
{
    auto reply = platform::XcbReply(connection_, xcb_get_input_focus(connection_), xcb_get_input_focus_reply,
                                    "GetInputFocus", &lastError_);
    return reply != nullptr;
}

xcb_atom_t XConnection::Atom(const std::string& name)
{
    auto reply = platform::XcbReply(
        connection_, xcb_intern_atom(connection_, 0, static_cast<uint16_t>(name.size()), name.c_str()),
        xcb_intern_atom_reply, "InternAtom " + name, &lastError_);
    return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

}  // namespace annotate
