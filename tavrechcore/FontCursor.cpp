#include "tavrechcore/FontCursor.h"

#include "tavrechcore/XConnection.h"

namespace hookcore {

FontCursor::FontCursor(XConnection& x, uint16_t glyph) : x_(x)
{
    xcb_connection_t* c = x_.Get();
    const xcb_font_t font = xcb_generate_id(c);
    static constexpr char kFontName[] = "cursor";
    if (!x_.Check(xcb_open_font_checked(c, font, sizeof kFontName - 1, kFontName), "OpenFont cursor"))
        return;
    // Each glyph's mask is the glyph that follows it; black on white.
    const xcb_cursor_t cursor = xcb_generate_id(c);
    if (x_.Check(xcb_create_glyph_cursor_checked(c, cursor, font, font, glyph, glyph + 1, 0, 0, 0, 0xFFFF,
                                                 0xFFFF, 0xFFFF),
                 "CreateGlyphCursor"))
        cursor_ = cursor;
    xcb_close_font(c, font);
}

FontCursor::~FontCursor()
{
    if (cursor_ != XCB_CURSOR_NONE) {
        xcb_free_cursor(x_.Get(), cursor_);
        xcb_flush(x_.Get());
    }
}

}  // namespace hookcore
