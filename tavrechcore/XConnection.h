// The hooks' own connection to the X server named by $DISPLAY. Each hook opens one
// for itself, so that its thread never shares a connection with the program. X
// errors never end the process: they are reported (XErrorReport) and the call that
// met one returns failure.
#pragma once

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

#include "platform/x11/XcbPtr.h"
#include "tavrechcore/XErrorReport.h"

namespace hookcore {

class XConnection {
public:
    // Null (reported) when no X server answers.
    static std::unique_ptr<XConnection> Open();
    ~XConnection();
    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;

    xcb_connection_t* Get() const { return conn_; }
    xcb_window_t Root() const { return screen_->root; }
    uint16_t ScreenWidth() const { return screen_->width_in_pixels; }
    uint16_t ScreenHeight() const { return screen_->height_in_pixels; }
    xcb_atom_t MessageAtom() const { return messageAtom_; }
    int FileDescriptor() const { return xcb_get_file_descriptor(conn_); }
    bool Broken() const { return xcb_connection_has_error(conn_) != 0; }

    // Waits until the server has handled a checked request; false (reported) on error.
    bool Check(xcb_void_cookie_t cookie, const char* what);
    // Round trip: every request sent so far has been handled.
    bool Sync();

    // The reply of a request; null (reported) on an X error or a broken connection.
    template <typename Reply, typename Cookie>
    platform::XcbPtr<Reply> Ask(Cookie cookie, Reply* (*replyFn)(xcb_connection_t*, Cookie, xcb_generic_error_t**),
                                const char* what)
    {
        xcb_generic_error_t* error = nullptr;
        platform::XcbPtr<Reply> reply(replyFn(conn_, cookie, &error));
        if (error) {
            ReportXError(what, *error);
            std::free(error);
            return nullptr;
        }
        if (!reply)
            ReportBroken(what);
        return reply;
    }

private:
    XConnection(xcb_connection_t* conn, xcb_screen_t* screen);
    void ReportBroken(const char* what);

    xcb_connection_t* conn_;
    xcb_screen_t* screen_;
    xcb_atom_t messageAtom_ = XCB_ATOM_NONE;
};

}  // namespace hookcore
