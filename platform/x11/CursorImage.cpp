#include "platform/x11/CursorImage.h"

#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <cstring>

#include "platform/x11/ScreenPalette.h"
#include "platform/x11/XDisplay.h"
#include "platform/x11/XDisplayError.h"

namespace platform {

CursorReader::CursorReader(XDisplay& display) : display_(display) {}

bool CursorReader::EnsureExtension()
{
    if (extensionReady_)
        return true;
    xcb_connection_t* conn = display_.Connection();
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(conn, &xcb_xfixes_id);
    if (!ext || !ext->present) {
        lastError_ = "the X server has no XFIXES extension: the cursor cannot be read";
        return false;
    }
    // XFIXES wants to hear the client's version before anything else.
    auto version = XcbReply(conn, xcb_xfixes_query_version(conn, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION),
                            xcb_xfixes_query_version_reply, "XFixesQueryVersion", &lastError_);
    if (!version)
        return false;
    if (version->major_version < 1) {
        lastError_ = "the X server's XFIXES " + std::to_string(version->major_version) +
                     " cannot report the cursor image";
        return false;
    }
    extensionReady_ = true;
    return true;
}

bool CursorReader::Read(CursorImage* image)
{
    if (!EnsureExtension())
        return false;
    xcb_connection_t* conn = display_.Connection();
    auto reply = XcbReply(conn, xcb_xfixes_get_cursor_image(conn), xcb_xfixes_get_cursor_image_reply,
                          "XFixesGetCursorImage", &lastError_);
    if (!reply)
        return false;
    const size_t count = static_cast<size_t>(reply->width) * reply->height;
    if (static_cast<size_t>(xcb_xfixes_get_cursor_image_cursor_image_length(reply.get())) < count) {
        lastError_ = "XFixesGetCursorImage returned fewer pixels than its size";
        return false;
    }
    image->x = reply->x;
    image->y = reply->y;
    image->xhot = reply->xhot;
    image->yhot = reply->yhot;
    image->width = reply->width;
    image->height = reply->height;
    image->serial = reply->cursor_serial;
    image->argb.resize(count);  // keeps its capacity: no allocation once the largest cursor was seen
    std::memcpy(image->argb.data(), xcb_xfixes_get_cursor_image_cursor_image(reply.get()), count * 4);
    return true;
}

namespace {

// t / 255 rounded to nearest, exact for 0 <= t <= 255 * 255.
inline uint32_t Div255(uint32_t t)
{
    t += 128;
    return (t + (t >> 8)) >> 8;
}

// One channel of premultiplied "over": cursor + frame * (255 - alpha) / 255.
inline uint32_t Over(uint32_t cursor, uint32_t frame, uint32_t inverseAlpha)
{
    return std::min<uint32_t>(255, cursor + Div255(frame * inverseAlpha));
}

inline uint32_t Expand5(uint32_t v) { return (v << 3) | (v >> 2); }

}  // namespace

void DrawCursor(const CursorImage& cursor, int x, int y, uint8_t* pixels, int width, int height,
                size_t stride, int bitsPerPixel, const ScreenPalette* palette)
{
    if (bitsPerPixel != 32 && bitsPerPixel != 24 && bitsPerPixel != 16 && !(bitsPerPixel == 8 && palette))
        return;
    if (cursor.argb.size() < static_cast<size_t>(cursor.width) * cursor.height)
        return;
    // The rows and columns of the image that fall inside the frame.
    const int64_t firstCol = std::max<int64_t>(0, -int64_t{x});
    const int64_t firstRow = std::max<int64_t>(0, -int64_t{y});
    const int64_t endCol = std::min<int64_t>(cursor.width, int64_t{width} - x);
    const int64_t endRow = std::min<int64_t>(cursor.height, int64_t{height} - y);
    const int bytes = bitsPerPixel / 8;
    for (int64_t row = firstRow; row < endRow; ++row) {
        const uint32_t* src = cursor.argb.data() + row * cursor.width;
        uint8_t* out = pixels + static_cast<size_t>(y + row) * stride;
        for (int64_t col = firstCol; col < endCol; ++col) {
            const uint32_t s = src[col];
            if (s == 0)
                continue;  // fully transparent
            const uint32_t inv = 255 - (s >> 24);
            const uint32_t sr = (s >> 16) & 0xff, sg = (s >> 8) & 0xff, sb = s & 0xff;
            uint8_t* p = out + static_cast<size_t>(x + col) * bytes;
            if (bytes >= 3) {
                p[0] = static_cast<uint8_t>(Over(sb, p[0], inv));
                p[1] = static_cast<uint8_t>(Over(sg, p[1], inv));
                p[2] = static_cast<uint8_t>(Over(sr, p[2], inv));
                if (bytes == 4)
                    p[3] = 0;
            } else if (bytes == 1) {
                // Blended with the index's colour, then back to the nearest index.
                const uint32_t under = palette->Color(p[0]);
                p[0] = palette->Nearest(Over(sr, (under >> 16) & 0xff, inv), Over(sg, (under >> 8) & 0xff, inv),
                                        Over(sb, under & 0xff, inv));
            } else {
                uint16_t v;
                std::memcpy(&v, p, 2);
                const uint32_t r = Over(sr, Expand5((v >> 10) & 0x1f), inv) >> 3;
                const uint32_t g = Over(sg, Expand5((v >> 5) & 0x1f), inv) >> 3;
                const uint32_t b = Over(sb, Expand5(v & 0x1f), inv) >> 3;
                v = static_cast<uint16_t>(r << 10 | g << 5 | b);
                std::memcpy(p, &v, 2);
            }
        }
    }
}

}  // namespace platform
