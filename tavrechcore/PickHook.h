// The hook that helps the user pick a window: it grabs the pointer with a crosshair
// and reports every motion with the top-level window under the pointer, and the left
// and right presses, to the program's window.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <memory>
#include <mutex>

#include "tavrechcore/FontCursor.h"
#include "tavrechcore/MessagePoster.h"

namespace hookcore {

class EventThread;
class PointerGrab;
class XConnection;

struct PickTarget {
    xcb_window_t window = XCB_WINDOW_NONE;
    uint32_t moveMessage = 0;
    uint32_t pressMessage = 0;
    uint32_t menuMessage = 0;
};

class PickHook {
public:
    // Null when there is no X display or the pointer cannot be grabbed in time.
    static std::unique_ptr<PickHook> Start(const PickTarget& target);
    ~PickHook();  // stops the thread, then ungrabs
    PickHook(const PickHook&) = delete;
    PickHook& operator=(const PickHook&) = delete;

    void Retarget(const PickTarget& target);

private:
    explicit PickHook(std::unique_ptr<XConnection> x, const PickTarget& target);
    void OnEvent(const xcb_generic_event_t& event);

    std::unique_ptr<XConnection> x_;
    FontCursor crosshair_;
    MessagePoster poster_;
    std::unique_ptr<PointerGrab> grab_;
    std::mutex mutex_;  // guards target_ and the connection's use
    PickTarget target_;
    std::unique_ptr<EventThread> thread_;  // last: stopped first
};

}  // namespace hookcore
