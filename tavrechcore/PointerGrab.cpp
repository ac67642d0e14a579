#include "tavrechcore/PointerGrab.h"

#include <string>
#include <thread>

#include "tavrechcore/XConnection.h"

namespace hookcore {

namespace {

const char* GrabStatusText(uint8_t status)
{
    switch (status) {
    case XCB_GRAB_STATUS_ALREADY_GRABBED:
        return "another client holds the pointer";
    case XCB_GRAB_STATUS_INVALID_TIME:
        return "invalid time";
    case XCB_GRAB_STATUS_NOT_VIEWABLE:
        return "the window is not viewable";
    case XCB_GRAB_STATUS_FROZEN:
        return "the pointer is frozen by another grab";
    default:
        return "unknown status";
    }
}

}  // namespace

std::unique_ptr<PointerGrab> PointerGrab::Acquire(XConnection& x, xcb_cursor_t cursor, uint16_t eventMask,
                                                  std::chrono::milliseconds patience)
{
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
        // Events go to the root, whatever window the pointer is over; the event's
        // child field names the top-level window under it.
        auto reply = x.Ask(xcb_grab_pointer(x.Get(), 0, x.Root(), eventMask, XCB_GRAB_MODE_ASYNC,
                                            XCB_GRAB_MODE_ASYNC, XCB_WINDOW_NONE, cursor, XCB_CURRENT_TIME),
                           xcb_grab_pointer_reply, "GrabPointer");
        if (!reply)
            return nullptr;
        if (reply->status == XCB_GRAB_STATUS_SUCCESS)
            return std::unique_ptr<PointerGrab>(new PointerGrab(x));
        if (std::chrono::steady_clock::now() >= deadline) {
            ReportProblem(std::string("GrabPointer refused: ") + GrabStatusText(reply->status));
            return nullptr;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

PointerGrab::~PointerGrab()
{
    xcb_ungrab_pointer(x_.Get(), XCB_CURRENT_TIME);
    // Released for certain before the caller goes on: a request that is only flushed
    // may still wait in the server while another connection's requests (the draw
    // hook's window, a test's click) are carried out, and the pointer would still
    // belong to this grab for them.
    x_.Sync();
}

}  // namespace hookcore
