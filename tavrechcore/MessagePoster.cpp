#include "tavrechcore/MessagePoster.h"

#include <cstring>

#include "tavrechcore/XConnection.h"

namespace hookcore {

void MessagePoster::Post(xcb_window_t target, uint32_t message, int32_t wParam, int32_t lParam)
{
    if (target == XCB_WINDOW_NONE)
        return;
    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = target;
    event.type = x_.MessageAtom();
    event.data.data32[0] = message;
    event.data.data32[1] = static_cast<uint32_t>(wParam);
    event.data.data32[2] = static_cast<uint32_t>(lParam);
    xcb_send_event(x_.Get(), 0, target, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
}

}  // namespace hookcore
