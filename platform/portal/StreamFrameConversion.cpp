#include "platform/portal/StreamFrameConversion.h"

#include <algorithm>
#include <cstring>

namespace platform {

namespace {

// One row: B, G and R sit at those byte offsets of each Bytes-byte source pixel.
template <int Bytes, int B, int G, int R>
void Convert(const uint8_t* src, uint8_t* dst, int count)
{
    for (int i = 0; i < count; ++i, src += Bytes, dst += 4) {
        dst[0] = src[B];
        dst[1] = src[G];
        dst[2] = src[R];
        dst[3] = 0;
    }
}

}  // namespace

int StreamPixelBytes(StreamPixelLayout layout)
{
    switch (layout) {
    case StreamPixelLayout::Bgrx:
    case StreamPixelLayout::Rgbx:
    case StreamPixelLayout::Xrgb:
    case StreamPixelLayout::Xbgr:
        return 4;
    case StreamPixelLayout::Bgr:
    case StreamPixelLayout::Rgb:
        return 3;
    case StreamPixelLayout::Unknown:
        break;
    }
    return 0;
}

void ConvertStreamRow(const uint8_t* src, StreamPixelLayout layout, uint8_t* dst, int count)
{
    switch (layout) {
    case StreamPixelLayout::Bgrx: Convert<4, 0, 1, 2>(src, dst, count); break;
    case StreamPixelLayout::Rgbx: Convert<4, 2, 1, 0>(src, dst, count); break;
    case StreamPixelLayout::Xrgb: Convert<4, 3, 2, 1>(src, dst, count); break;
    case StreamPixelLayout::Xbgr: Convert<4, 1, 2, 3>(src, dst, count); break;
    case StreamPixelLayout::Bgr: Convert<3, 0, 1, 2>(src, dst, count); break;
    case StreamPixelLayout::Rgb: Convert<3, 2, 1, 0>(src, dst, count); break;
    case StreamPixelLayout::Unknown: break;
    }
}

bool ConvertStreamFrame(const StreamImage& image, const FrameImage& frame)
{
    if (StreamPixelBytes(image.layout) == 0)
        return false;
    const int width = std::clamp(image.width, 0, frame.width);
    const int height = std::clamp(image.height, 0, frame.height);
    const size_t frameRow = static_cast<size_t>(frame.width) * 4;
    for (int row = 0; row < frame.height; ++row) {
        uint8_t* out = frame.pixels + row * frame.stride;
        if (row >= height) {
            std::memset(out, 0, frameRow);
            continue;
        }
        ConvertStreamRow(image.pixels + row * image.stride, image.layout, out, width);
        std::memset(out + static_cast<size_t>(width) * 4, 0, frameRow - static_cast<size_t>(width) * 4);
    }
    return true;
}

}  // namespace platform
