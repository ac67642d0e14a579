#include "annotate/PixelLayer.h"

#include <algorithm>
#include <cstring>

namespace annotate {

PixelLayer::PixelLayer(int32_t width, int32_t height, int bytesPerPixel, uint32_t fill)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      bytes_(std::clamp(bytesPerPixel, 1, 4)),
      stride_(static_cast<size_t>(width_) * bytes_),
      pixels_(stride_ * height_)
{
    Fill(fill);
}

void PixelLayer::Fill(uint32_t value)
{
    for (int32_t y = 0; y < height_; ++y)
        FillSpan(y, 0, width_, value);
}

void PixelLayer::FillSpan(int32_t y, int32_t x0, int32_t x1, uint32_t value)
{
    if (y < 0 || y >= height_)
        return;
    x0 = std::max(x0, 0);
    x1 = std::min(x1, width_);
    if (x1 <= x0)
        return;
    uint8_t* p = pixels_.data() + static_cast<size_t>(y) * stride_ + static_cast<size_t>(x0) * bytes_;
    if (bytes_ == 1) {
        std::memset(p, static_cast<int>(value & 0xFF), static_cast<size_t>(x1 - x0));
        return;
    }
    uint8_t pixel[4];
    for (int i = 0; i < 4; ++i)
        pixel[i] = static_cast<uint8_t>(value >> (8 * i));  // little-endian, as frames are
    for (int32_t x = x0; x < x1; ++x, p += bytes_)
        std::memcpy(p, pixel, static_cast<size_t>(bytes_));
}

uint32_t PixelLayer::At(int32_t x, int32_t y) const
{
    if (x < 0 || y < 0 || x >= width_ || y >= height_)
        return 0;
    const uint8_t* p = Row(y) + static_cast<size_t>(x) * bytes_;
    uint32_t v = 0;
    for (int i = 0; i < bytes_; ++i)
        v |= static_cast<uint32_t>(p[i]) << (8 * i);
    return v;
}

}  // namespace annotate
