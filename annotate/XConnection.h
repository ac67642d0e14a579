// The XCB connection the screen side draws with: a platform::XDisplay of its own
// (opened from $DISPLAY), with the checked requests the drawing code needs. UI thread
// only. Every failed request is kept as text with the X error's fields (LastError).
#pragma once

#include <xcb/xcb.h>

#include <memory>
#include <string>

#include "platform/x11/XDisplay.h"

namespace annotate {

class XConnection {
public:
    // Null when no X server answers; *error says why.
    static std::unique_ptr<XConnection> Open(std::string* error = nullptr);
    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;

    xcb_connection_t* Get() const { return display_->Connection(); }
    xcb_screen_t* Screen() const { return screen_; }
    xcb_window_t Root() const { return display_->Root(); }
    int ScreenNumber() const { return screenNumber_; }
    platform::XDisplay& Display() const { return *display_; }

    // Waits for a checked request; false and LastError on an X error.
    bool Check(xcb_void_cookie_t cookie, const char* what);
    // Round trip: everything sent before has been processed by the server.
    bool Sync();
    xcb_atom_t Atom(const std::string& name);

    void SetError(std::string text) { lastError_ = std::move(text); }
    const std::string& LastError() const { return lastError_; }

private:
    explicit XConnection(std::unique_ptr<platform::XDisplay> display);

    std::unique_ptr<platform::XDisplay> display_;
    xcb_screen_t* screen_ = nullptr;
    int screenNumber_ = 0;
    std::string lastError_;
};

}  // namespace annotate
