// A width x height block of pixels of 1 to 4 bytes each, rows top-down, tightly
// packed. Every write is clipped to the block, so callers may pass any span.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace annotate {

class PixelLayer {
public:
    PixelLayer(int32_t width, int32_t height, int bytesPerPixel, uint32_t fill);

    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }
    int BytesPerPixel() const { return bytes_; }
    size_t Stride() const { return stride_; }

    void Fill(uint32_t value);
    // Pixels x0 <= x < x1 of row y take the value (its low BytesPerPixel bytes).
    void FillSpan(int32_t y, int32_t x0, int32_t x1, uint32_t value);
    uint32_t At(int32_t x, int32_t y) const;

    const uint8_t* Row(int32_t y) const { return pixels_.data() + static_cast<size_t>(y) * stride_; }

private:
    int32_t width_;
    int32_t height_;
    int bytes_;
    size_t stride_;
    std::vector<uint8_t> pixels_;
};

}  // namespace annotate
