#include "platform/x11/PixelConversion.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cstring>

namespace platform {

namespace {

const xcb_visualtype_t* FindVisual(const xcb_screen_t* screen, xcb_visualid_t id)
{
    for (xcb_depth_iterator_t d = xcb_screen_allowed_depths_iterator(screen); d.rem; xcb_depth_next(&d)) {
        for (xcb_visualtype_iterator_t v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v)) {
            if (v.data->visual_id == id)
                return v.data;
        }
    }
    return nullptr;
}

// The row conversion on the hot path is written with SSE2 (part of every x86-64
// processor): the compiler does not vectorise it at -O2, and scalar code costs
// twice a memcpy on a full-HD frame.

// 5-6-5 to 5-5-5: red moves down one bit, green drops its lowest bit, blue stays.
void Rgb565To555Row(const uint8_t* src, uint8_t* dst, int count)
{
    int i = 0;
#if defined(__SSE2__)
    const __m128i redGreen = _mm_set1_epi16(0x7fe0);
    const __m128i blue = _mm_set1_epi16(0x001f);
    for (; i + 8 <= count; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * i));
        const __m128i out =
            _mm_or_si128(_mm_and_si128(_mm_srli_epi16(v, 1), redGreen), _mm_and_si128(v, blue));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * i), out);
    }
#endif
    for (; i < count; ++i) {
        uint16_t v;
        std::memcpy(&v, src + 2 * i, 2);
        v = static_cast<uint16_t>(((v >> 1) & 0x7fe0u) | (v & 0x001fu));
        std::memcpy(dst + 2 * i, &v, 2);
    }
}

}  // namespace

bool PixelConversion::Choose(const xcb_screen_t* screen, int bitsPerPixel, std::string* error)
{
    bytesPerPixel_ = bitsPerPixel / 8;
    const xcb_visualtype_t* visual = FindVisual(screen, screen->root_visual);
    const bool trueColor = visual && (visual->_class == XCB_VISUAL_CLASS_TRUE_COLOR ||
                                      visual->_class == XCB_VISUAL_CLASS_DIRECT_COLOR);
    if (trueColor) {
        red_ = Channel(visual->red_mask);
        green_ = Channel(visual->green_mask);
        blue_ = Channel(visual->blue_mask);
    }
    const bool bgr888 = trueColor && visual->red_mask == 0xff0000 && visual->green_mask == 0xff00 &&
                        visual->blue_mask == 0xff;
    switch (bitsPerPixel) {
    case 8:
        kind_ = Kind::Copy;
        return true;
    case 16:
        if (!trueColor)
            break;
        if (visual->red_mask == 0x7c00 && visual->green_mask == 0x3e0 && visual->blue_mask == 0x1f)
            kind_ = Kind::Copy;
        else if (visual->red_mask == 0xf800 && visual->green_mask == 0x7e0 && visual->blue_mask == 0x1f)
            kind_ = Kind::Rgb565To555;
        else
            kind_ = Kind::Masks16;
        return true;
    case 24:
        if (!bgr888)
            break;
        kind_ = Kind::Copy;
        return true;
    case 32:
        if (!trueColor)
            break;
        // B, G, R and a fourth byte the frame's user decides about (libswscale reads
        // such pixels as BGR0 and ignores it; an uncompressed frame sets it opaque).
        kind_ = bgr888 ? Kind::Copy : Kind::Masks32;
        return true;
    default:
        break;
    }
    *error = "screen format not supported: depth " + std::to_string(screen->root_depth) + ", " +
             std::to_string(bitsPerPixel) + " bits per pixel" + (trueColor ? "" : ", not a TrueColor visual");
    return false;
}

void PixelConversion::ConvertRow(const uint8_t* src, uint8_t* dst, int count) const
{
    switch (kind_) {
    case Kind::Copy:
        std::memcpy(dst, src, static_cast<size_t>(count) * bytesPerPixel_);
        break;
    case Kind::Rgb565To555:
        Rgb565To555Row(src, dst, count);
        break;
    case Kind::Masks32:
        for (int i = 0; i < count; ++i) {
            uint32_t v;
            std::memcpy(&v, src + 4 * i, 4);
            v = red_.Take(v, 8) << 16 | green_.Take(v, 8) << 8 | blue_.Take(v, 8);
            std::memcpy(dst + 4 * i, &v, 4);
        }
        break;
    case Kind::Masks16:
        for (int i = 0; i < count; ++i) {
            uint16_t v;
            std::memcpy(&v, src + 2 * i, 2);
            v = static_cast<uint16_t>(red_.Take(v, 5) << 10 | green_.Take(v, 5) << 5 | blue_.Take(v, 5));
            std::memcpy(dst + 2 * i, &v, 2);
        }
        break;
    }
}

}  // namespace platform
