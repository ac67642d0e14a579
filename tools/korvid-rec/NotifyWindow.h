// An unmapped window of korvid-rec's own that receives the capture library's
// CaptureErrorMessage, so the recorder learns that a recording failed.
#pragma once

#include <xcb/xcb.h>

namespace tools {

class NotifyWindow {
public:
    NotifyWindow() = default;
    ~NotifyWindow();
    NotifyWindow(const NotifyWindow&) = delete;
    NotifyWindow& operator=(const NotifyWindow&) = delete;

    // Connects to the X display and creates the window; false when either fails.
    bool Create();
    // True once a CaptureErrorMessage has arrived.
    bool ErrorPosted();
    xcb_window_t Id() const { return window_; }

private:
    xcb_connection_t* connection_ = nullptr;
    xcb_window_t window_ = 0;
    xcb_atom_t messageAtom_ = 0;
    bool errorPosted_ = false;
};

}  // namespace tools
