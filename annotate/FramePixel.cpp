#include "annotate/FramePixel.h"

namespace annotate {

uint32_t FramePixelOf(ColorRef color, int bitsPerPixel)
{
    color &= kColorRefMask;
    const uint32_t red = color & 0xFF, green = (color >> 8) & 0xFF, blue = (color >> 16) & 0xFF;
    switch (bitsPerPixel) {
    case 32:
    case 24:
        return red << 16 | green << 8 | blue;
    case 16:
        return (red >> 3) << 10 | (green >> 3) << 5 | (blue >> 3);
    default:
        return 0;
    }
}

}  // namespace annotate
