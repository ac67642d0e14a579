// Posts the hooks' messages: a ClientMessage of type TAVREC_MESSAGE, format 32,
// data.l[0] = message number, l[1] = wParam, l[2] = lParam, sent to the target
// window with an empty event mask, so that it reaches the client that created the
// window. Posts on one connection arrive in the order they were made. A post to a
// window that no longer exists comes back as an X error on the event loop.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>

namespace hookcore {

class XConnection;

class MessagePoster {
public:
    explicit MessagePoster(XConnection& x) : x_(x) {}
    // Queues the message; the hook's event loop flushes after each batch of events.
    void Post(xcb_window_t target, uint32_t message, int32_t wParam, int32_t lParam);

private:
    XConnection& x_;
};

// (y << 16) | x, the packed point of a pointer position.
inline int32_t PackPoint(int16_t x, int16_t y)
{
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(y)) << 16 |
                                static_cast<uint16_t>(x));
}

}  // namespace hookcore
