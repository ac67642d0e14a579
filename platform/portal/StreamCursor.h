// The cursor as a screen-cast stream describes it beside the picture (PipeWire's
// cursor metadata, the portal's metadata cursor mode): a position in the stream's
// picture, a hot spot and, only when the image changes, a small bitmap. The latest
// of these is kept as a CursorImage, which DrawCursor blends into a frame.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/portal/StreamFrameConversion.h"
#include "platform/x11/CursorImage.h"

namespace platform {

// The largest cursor image asked for and kept, in pixels each way. Larger ones are
// not drawn.
constexpr int kMaxStreamCursorSize = 256;

// One buffer's cursor, pointing into the buffer's metadata (valid only while the
// buffer is).
struct StreamCursor {
    bool visible = false;        // false: hidden, or outside the shared area
    int x = 0, y = 0;            // the hot spot's position in the stream's picture
    int xhot = 0, yhot = 0;      // the hot spot inside the image
    bool newImage = false;       // the buffer brings an image (an empty one: invisible)
    StreamImage image;           // 4-byte pixels, premultiplied where alphaByte
    bool alphaByte = false;      // the X byte of image.layout is alpha, else opaque
};

// Brings the kept cursor up to date with one buffer's cursor: position and hot spot
// always, the image (turned into premultiplied ARGB words) when a new one came, its
// serial then counting up. *visible says whether there is a cursor to draw. True when
// the cursor as drawn changed (moved, new image, shown or hidden). The image buffer
// grows only when a larger image comes; images larger than kMaxStreamCursorSize are
// taken as invisible.
bool UpdateStreamCursor(const StreamCursor& cursor, CursorImage* kept, bool* visible);

}  // namespace platform
