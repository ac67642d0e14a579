// Texts for X errors and failed XCB calls, shared by the X11 classes. Every X error is
// described with all its fields so that a failure can be traced to its request.
#pragma once

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/x11/XErrorName.h"
#include "platform/x11/XcbPtr.h"

namespace platform {

// "<what>: X error BadWindow (error_code 3), major opcode 14, minor opcode 0,
//  resource id 0x00a00001, sequence 12"
inline std::string DescribeXError(const std::string& what, const xcb_generic_error_t* e)
{
    char text[200];
    std::snprintf(text, sizeof text,
                  "X error %s (error_code %u), major opcode %u, minor opcode %u, resource id 0x%08x, "
                  "sequence %u",
                  XErrorName(e->error_code), e->error_code, e->major_code, e->minor_code,
                  e->resource_id, e->full_sequence);
    return what + ": " + text;
}

// Text for a call that got neither reply nor error: the connection is broken.
inline std::string DescribeXFailure(const std::string& what, xcb_connection_t* c)
{
    const int code = xcb_connection_has_error(c);
    if (code == 0)
        return what + ": no reply from the X server";
    return what + ": the X connection is broken (xcb error " + std::to_string(code) + ")";
}

}  // namespace platform

namespace platform {

// Waits for the reply of a request. On an X error or a broken connection returns null
// and puts the description into *error.
template <typename Reply, typename Cookie>
XcbPtr<Reply> XcbReply(xcb_connection_t* c, Cookie cookie,
                       Reply* (*replyFn)(xcb_connection_t*, Cookie, xcb_generic_error_t**),
                       const std::string& what, std::string* error)
{
    xcb_generic_error_t* e = nullptr;
    XcbPtr<Reply> reply(replyFn(c, cookie, &e));
    if (e) {
        *error = DescribeXError(what, e);
        std::free(e);
        return nullptr;
    }
    if (!reply)
        *error = DescribeXFailure(what, c);
    return reply;
}

// Waits for a checked request without reply to be processed; false with *error on failure.
inline bool XcbCheck(xcb_connection_t* c, xcb_void_cookie_t cookie, const std::string& what,
                     std::string* error)
{
    if (xcb_generic_error_t* e = xcb_request_check(c, cookie)) {
        *error = DescribeXError(what, e);
        std::free(e);
        return false;
    }
    if (xcb_connection_has_error(c)) {
        *error = DescribeXFailure(what, c);
        return false;
    }
    return true;
}

}  // namespace platform
