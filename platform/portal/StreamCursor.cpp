#include "platform/portal/StreamCursor.h"

#include <algorithm>

namespace platform {

namespace {

// Byte offsets of B, G, R and the X byte in a 4-byte layout; false for others.
bool Offsets(StreamPixelLayout layout, int* b, int* g, int* r, int* x)
{
    switch (layout) {
    case StreamPixelLayout::Bgrx: *b = 0, *g = 1, *r = 2, *x = 3; return true;
    case StreamPixelLayout::Rgbx: *b = 2, *g = 1, *r = 0, *x = 3; return true;
    case StreamPixelLayout::Xrgb: *b = 3, *g = 2, *r = 1, *x = 0; return true;
    case StreamPixelLayout::Xbgr: *b = 1, *g = 2, *r = 3, *x = 0; return true;
    default: return false;
    }
}

// Takes the image into kept->argb; false when it cannot be drawn (none, too large,
// or of a layout without four bytes a pixel).
bool TakeImage(const StreamCursor& cursor, CursorImage* kept)
{
    const StreamImage& image = cursor.image;
    int b, g, r, x;
    if (!image.pixels || image.width <= 0 || image.height <= 0 || image.width > kMaxStreamCursorSize ||
        image.height > kMaxStreamCursorSize || image.stride < static_cast<size_t>(image.width) * 4 ||
        !Offsets(image.layout, &b, &g, &r, &x))
        return false;
    kept->width = image.width;
    kept->height = image.height;
    kept->argb.resize(static_cast<size_t>(image.width) * image.height);  // keeps its capacity
    uint32_t* out = kept->argb.data();
    for (int row = 0; row < image.height; ++row) {
        const uint8_t* p = image.pixels + row * image.stride;
        for (int col = 0; col < image.width; ++col, p += 4) {
            const uint32_t a = cursor.alphaByte ? p[x] : 255;
            // A premultiplied channel never exceeds its alpha; one that does (an image
            // that is not premultiplied after all) is held to it.
            const uint32_t cr = std::min<uint32_t>(p[r], a), cg = std::min<uint32_t>(p[g], a),
                           cb = std::min<uint32_t>(p[b], a);
            *out++ = a << 24 | cr << 16 | cg << 8 | cb;
        }
    }
    return true;
}

}  // namespace

bool UpdateStreamCursor(const StreamCursor& cursor, CursorImage* kept, bool* visible)
{
    const bool wasVisible = *visible && kept->width > 0;
    bool imageChanged = false;
    if (cursor.visible && cursor.newImage) {
        if (!TakeImage(cursor, kept)) {
            kept->width = kept->height = 0;
            kept->argb.clear();
        }
        ++kept->serial;
        imageChanged = true;
    }
    const bool moved = kept->x != cursor.x || kept->y != cursor.y || kept->xhot != cursor.xhot ||
                       kept->yhot != cursor.yhot;
    if (cursor.visible) {
        kept->x = cursor.x;
        kept->y = cursor.y;
        kept->xhot = cursor.xhot;
        kept->yhot = cursor.yhot;
    }
    *visible = cursor.visible;
    const bool nowVisible = cursor.visible && kept->width > 0;
    if (wasVisible != nowVisible)
        return true;
    return nowVisible && (moved || imageChanged);
}

}  // namespace platform
