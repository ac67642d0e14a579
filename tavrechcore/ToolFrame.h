// Where the program's tool window is on the screen: the top-level window (the window
// manager's frame, decorations included) that holds the tool window, and its
// rectangle while it is viewable. The draw hook leaves that rectangle out of its
// input, so that the tool window stays clickable while the rest of the screen takes
// the pen.
#pragma once

#include <xcb/xcb.h>

#include <optional>

#include "tavrechcore/ScreenRect.h"

namespace hookcore {

class XConnection;

class ToolFrame {
public:
    explicit ToolFrame(XConnection& x) : x_(x) {}

    // Follows a new tool window; finds its frame and rectangle.
    void Follow(xcb_window_t client);
    // Finds the frame and its rectangle again (the window was reparented, mapped,
    // unmapped or destroyed).
    void Locate();

    xcb_window_t Client() const { return client_; }
    xcb_window_t Frame() const { return frame_; }
    // The rectangle to leave out of the hook's input; nothing when the tool window
    // is not on the screen.
    const std::optional<ScreenRect>& Area() const { return area_; }

    // Takes a moved or resized frame's rectangle from its ConfigureNotify; true when
    // the rectangle changed.
    bool Configured(const xcb_configure_notify_event_t& event);

private:
    XConnection& x_;
    xcb_window_t client_ = XCB_WINDOW_NONE;
    xcb_window_t frame_ = XCB_WINDOW_NONE;
    std::optional<ScreenRect> area_;
};

}  // namespace hookcore
