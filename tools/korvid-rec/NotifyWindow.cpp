#include "tools/korvid-rec/NotifyWindow.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/korvid.h"
#include "platform/x11/XDisplay.h"

namespace tools {

bool NotifyWindow::Create()
{
    connection_ = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection_))
        return false;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
    window_ = xcb_generate_id(connection_);
    xcb_create_window(connection_, 0, window_, screen->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection_,
        xcb_intern_atom(connection_, 0, std::strlen(platform::kMessageAtomName), platform::kMessageAtomName),
        nullptr);
    if (!atom)
        return false;
    messageAtom_ = atom->atom;
    std::free(atom);
    xcb_flush(connection_);
    return true;
}

NotifyWindow::~NotifyWindow()
{
    if (connection_) {
        if (window_)
            xcb_destroy_window(connection_, window_);
        xcb_disconnect(connection_);
    }
}

bool NotifyWindow::ErrorPosted()
{
    if (!connection_)
        return false;  // never created
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
        if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
            auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
            if (message->type == messageAtom_ &&
                message->data.data32[0] == static_cast<uint32_t>(CaptureErrorMessage))
                errorPosted_ = true;
        }
        std::free(event);
    }
    return errorPosted_;
}

}  // namespace tools
