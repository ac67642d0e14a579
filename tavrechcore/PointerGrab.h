// An active grab of the pointer on the root window: every pointer event of the
// screen goes to the grabbing connection, shown with the given cursor. Released by
// the destructor.
#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <memory>

namespace hookcore {

class XConnection;

class PointerGrab {
public:
    // Tries again while another client holds the pointer, for at most patience; null
    // (reported) when the grab is still refused then.
    static std::unique_ptr<PointerGrab> Acquire(XConnection& x, xcb_cursor_t cursor, uint16_t eventMask,
                                                std::chrono::milliseconds patience);
    ~PointerGrab();
    PointerGrab(const PointerGrab&) = delete;
    PointerGrab& operator=(const PointerGrab&) = delete;

private:
    explicit PointerGrab(XConnection& x) : x_(x) {}
    XConnection& x_;
};

}  // namespace hookcore
