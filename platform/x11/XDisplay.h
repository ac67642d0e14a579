// One XCB connection to the X server named by $DISPLAY, with the window queries the
// capture needs. Each thread that talks to X opens its own XDisplay. An X error is
// never fatal: every call checks its reply and reports failure instead.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/WinTypes.h"

struct xcb_connection_t;

namespace platform {

using WindowId = uint32_t;

// Type name of the ClientMessage that stands in for a posted window message:
// data.l[0] = message number, l[1] = wParam, l[2] = lParam.
inline constexpr const char* kMessageAtomName = "TAVREC_MESSAGE";

class XDisplay {
public:
    // Null when no X server answers; *error then says why.
    static std::unique_ptr<XDisplay> Open(std::string* error = nullptr);
    ~XDisplay();
    XDisplay(const XDisplay&) = delete;
    XDisplay& operator=(const XDisplay&) = delete;

    xcb_connection_t* Connection() const;
    WindowId Root() const;
    int ScreenWidth() const;
    int ScreenHeight() const;
    int RootDepth() const;
    // Bits per pixel of the pixmap format of the root's depth (depth 24 gives 32).
    int RootBitsPerPixel() const;

    // Rectangle of the window in root coordinates, frame included: for a client
    // window managed by a window manager, the rectangle of its top-level frame.
    // The root gives the whole screen. False when the window does not exist.
    bool GetWindowRect(WindowId window, RectL* rect);
    // The child of the root that contains the window (its top-level frame), the root
    // for the root itself, 0 when the window does not exist.
    WindowId TopLevelOf(WindowId window);
    // The top-level window (child of the root) under the pointer, the root when none.
    WindowId WindowUnderPointer();
    bool QueryPointer(int* x, int* y);
    bool WindowExists(WindowId window);

    // Sends a TAVREC_MESSAGE ClientMessage to the window and flushes. Asynchronous.
    bool PostMessage(WindowId window, uint32_t message, int32_t wParam = 0, int32_t lParam = 0);
    uint32_t MessageAtom() const;

    // Text of the last failure, with the X error's fields when there was one.
    const std::string& LastError() const;

    struct Impl;

private:
    explicit XDisplay(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// Opens a connection of its own, posts the message and closes it: for threads that
// post rarely (error reports) and have no connection at hand.
bool PostWindowMessage(WindowId window, uint32_t message, int32_t wParam = 0, int32_t lParam = 0);

}  // namespace platform
