// A pointer shape from the X server's standard cursor font (glyphs of
// X11/cursorfont.h), freed with the object. A font that cannot be opened leaves the
// cursor None, which means the parent's pointer shape: the hooks work on without it.
#pragma once

#include <xcb/xcb.h>

namespace hookcore {

class XConnection;

class FontCursor {
public:
    // Glyphs of the cursor font used by the hooks.
    static constexpr uint16_t kCircle = 24;
    static constexpr uint16_t kCrosshair = 34;
    static constexpr uint16_t kPencil = 86;

    FontCursor(XConnection& x, uint16_t glyph);
    ~FontCursor();
    FontCursor(const FontCursor&) = delete;
    FontCursor& operator=(const FontCursor&) = delete;

    xcb_cursor_t Id() const { return cursor_; }

private:
    XConnection& x_;
    xcb_cursor_t cursor_ = XCB_CURSOR_NONE;
};

}  // namespace hookcore
