// The XCB connection the screen side draws with: one of its own (opened from
// $DISPLAY) or one the caller passes in and keeps. UI thread only. Every failed
// request is kept as text with the X error's fields (LastError).
#pragma once

#include <xcb/xcb.h>

#include <memory>
#include <string>

namespace annotate {

class XConnection {
public:
    // Null when no X server answers; *error says why.
    static std::unique_ptr<XConnection> Open(std::string* error = nullptr);
    // Uses connection (not closed here) and its screen number.
    static std::unique_ptr<XConnection> Borrow(xcb_connection_t* connection, int screenNumber);
    ~XConnection();
    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;

    xcb_connection_t* Get() const { return connection_; }
    xcb_screen_t* Screen() const { return screen_; }
    xcb_window_t Root() const { return screen_->root; }
    int ScreenNumber() const { return screenNumber_; }

    // Waits for a checked request; false and LastError on an X error.
    bool Check(xcb_void_cookie_t cookie, const char* what);
    // Round trip: everything sent before has been processed by the server.
    bool Sync();
    xcb_atom_t Atom(const std::string& name);

    void SetError(std::string text) { lastError_ = std::move(text); }
    const std::string& LastError() const { return lastError_; }

private:
    XConnection(xcb_connection_t* connection, int screenNumber, bool owned);

    xcb_connection_t* connection_;
    xcb_screen_t* screen_ = nullptr;
    int screenNumber_;
    bool owned_;
    std::string lastError_;
};

}  // namespace annotate
