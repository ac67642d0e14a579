// A frame for the X11 tests: pixels of 8, 16 or 32 bits, rows padded beyond the
// width (so that a write past a row's end shows), filled with a known byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace testsupport {

struct Frame {
    int width = 0, height = 0, bytes = 0;
    size_t stride = 0;
    std::vector<uint8_t> data;

    Frame(int w, int h, int bpp, uint8_t fill = 0xAB)
        : width(w), height(h), bytes(bpp / 8), stride(static_cast<size_t>(w) * (bpp / 8) + 12),
          data(stride * h, fill)
    {
    }
    uint32_t At(int x, int y) const
    {
        uint32_t v = 0;
        std::memcpy(&v, data.data() + y * stride + x * bytes, bytes);
        return v;
    }
    // The pixel without the fourth byte of 32-bit pixels, which a grab leaves as the
    // server gives it.
    uint32_t Colour(int x, int y) const { return bytes == 4 ? At(x, y) & 0xFFFFFF : At(x, y); }
    void Set(int x, int y, uint32_t v) { std::memcpy(data.data() + y * stride + x * bytes, &v, bytes); }
    uint8_t* Pixels() { return data.data(); }
};

}  // namespace testsupport
