#include "platform/x11/ScreenPalette.h"

#include <xcb/xcb.h>

#include "platform/x11/XDisplay.h"
#include "platform/x11/XDisplayError.h"

namespace platform {

std::unique_ptr<ScreenPalette> ScreenPalette::Read(XDisplay& display, std::string* error)
{
    std::string ignored;
    std::string& err = error ? *error : ignored;
    xcb_connection_t* conn = display.Connection();
    const xcb_screen_t* screen = nullptr;
    for (xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn)); it.rem; xcb_screen_next(&it))
        if (it.data->root == display.Root())
            screen = it.data;
    if (!screen) {
        err = "the root window belongs to no screen of the connection";
        return nullptr;
    }
    uint32_t pixels[256];
    for (uint32_t i = 0; i < 256; ++i)
        pixels[i] = i;
    auto reply = XcbReply(conn, xcb_query_colors(conn, screen->default_colormap, 256, pixels),
                          xcb_query_colors_reply, "QueryColors", &err);
    if (!reply)
        return nullptr;
    const int count = xcb_query_colors_colors_length(reply.get());
    if (count < 256) {
        err = "QueryColors returned " + std::to_string(count) + " colours, expected 256";
        return nullptr;
    }
    auto palette = std::unique_ptr<ScreenPalette>(new ScreenPalette());
    const xcb_rgb_t* colors = xcb_query_colors_colors(reply.get());
    for (int i = 0; i < 256; ++i)
        palette->colors_[i] = uint32_t(colors[i].red >> 8) << 16 | uint32_t(colors[i].green >> 8) << 8 |
                              uint32_t(colors[i].blue >> 8);
    return palette;
}

uint8_t ScreenPalette::Nearest(uint32_t r, uint32_t g, uint32_t b) const
{
    uint32_t best = 0, bestDistance = UINT32_MAX;
    for (uint32_t i = 0; i < 256 && bestDistance != 0; ++i) {
        const int dr = int((colors_[i] >> 16) & 0xff) - int(r);
        const int dg = int((colors_[i] >> 8) & 0xff) - int(g);
        const int db = int(colors_[i] & 0xff) - int(b);
        const auto distance = uint32_t(dr * dr + dg * dg + db * db);
        if (distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return uint8_t(best);
}

}  // namespace platform
