#include "annotate/ScreenColour.h"

#include <bit>

#include "annotate/XConnection.h"
#include "platform/x11/XDisplayError.h"

namespace annotate {

namespace {

// An 8-bit channel value scaled into the bits of mask.
uint32_t Channel(uint32_t value, uint32_t mask)
{
    if (!mask)
        return 0;
    const int shift = std::countr_zero(mask);
    const int bits = std::popcount(mask);
    const uint32_t scaled = bits >= 8 ? value << (bits - 8) : value >> (8 - bits);
    return (scaled << shift) & mask;
}

}  // namespace

ScreenColour::ScreenColour(XConnection& x) : x_(x)
{
    for (auto depths = xcb_screen_allowed_depths_iterator(x.Screen()); depths.rem; xcb_depth_next(&depths))
        for (auto v = xcb_depth_visuals_iterator(depths.data); v.rem; xcb_visualtype_next(&v))
            if (v.data->visual_id == x.Screen()->root_visual) {
                trueColor_ = v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR ||
                             v.data->_class == XCB_VISUAL_CLASS_DIRECT_COLOR;
                redMask_ = v.data->red_mask;
                greenMask_ = v.data->green_mask;
                blueMask_ = v.data->blue_mask;
            }
}

uint32_t ScreenColour::ScreenPixel(ColorRef color)
{
    color &= kColorRefMask;
    const uint32_t red = color & 0xFF, green = (color >> 8) & 0xFF, blue = (color >> 16) & 0xFF;
    if (trueColor_)
        return Channel(red, redMask_) | Channel(green, greenMask_) | Channel(blue, blueMask_);
    if (color == cachedColor_)
        return cachedPixel_;
    std::string error;
    auto reply = platform::XcbReply(
        x_.Get(),
        xcb_alloc_color(x_.Get(), x_.Screen()->default_colormap, static_cast<uint16_t>(red * 257),
                        static_cast<uint16_t>(green * 257), static_cast<uint16_t>(blue * 257)),
        xcb_alloc_color_reply, "AllocColor", &error);
    if (!reply) {
        x_.SetError(error);
        return color ? x_.Screen()->white_pixel : x_.Screen()->black_pixel;
    }
    cachedColor_ = color;
    cachedPixel_ = reply->pixel;
    return cachedPixel_;
}

uint32_t ScreenColour::FramePixel(ColorRef color, int frameBitsPerPixel)
{
    if (frameBitsPerPixel == 8)
        return ScreenPixel(color) & 0xFF;
    return FramePixelOf(color, frameBitsPerPixel);
}

uint32_t ScreenColour::ArgbPixel(ColorRef color)
{
    return 0xFF000000u | FramePixelOf(color, 32);
}

}  // namespace annotate
