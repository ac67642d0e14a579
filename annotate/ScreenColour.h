// A COLORREF (0x00BBGGRR, top byte dropped) as the screen and the frames hold it:
// the root visual's pixel (channel masks of a TrueColor visual, a colormap cell of
// the default colormap otherwise) and the frame value (FramePixelOf, or the same
// colormap index on 8-bit screens). UI thread.
#pragma once

#include <cstdint>

#include "annotate/FramePixel.h"

namespace annotate {

class XConnection;

class ScreenColour {
public:
    explicit ScreenColour(XConnection& x);

    uint32_t ScreenPixel(ColorRef color);
    uint32_t FramePixel(ColorRef color, int frameBitsPerPixel);
    // Opaque premultiplied ARGB for a 32-bit visual.
    static uint32_t ArgbPixel(ColorRef color);

private:
    XConnection& x_;
    bool trueColor_ = false;
    uint32_t redMask_ = 0, greenMask_ = 0, blueMask_ = 0;
    ColorRef cachedColor_ = 0xFFFFFFFF;  // the last colormap cell asked for
    uint32_t cachedPixel_ = 0;
};

}  // namespace annotate
