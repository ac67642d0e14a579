// How the server's pixels become a frame's: chosen once from the root's visual and
// bits per pixel, then applied row by row. Frame layouts: 32 bpp B, G, R, x bytes;
// 16 bpp RGB 5-5-5; 24 bpp B, G, R; 8 bpp the screen's indices. The fourth byte of
// 32 bpp pixels is what the server gives.
#pragma once

#include <xcb/xcb.h>

#include <bit>
#include <cstdint>
#include <string>

namespace platform {

class PixelConversion {
public:
    // The conversion for the screen's root visual at bitsPerPixel; false with *error
    // for a screen format a frame cannot hold.
    bool Choose(const xcb_screen_t* screen, int bitsPerPixel, std::string* error);

    // Converts count pixels of a row; src may be dst (in place).
    void ConvertRow(const uint8_t* src, uint8_t* dst, int count) const;
    // Whether the server's pixels are the frame's already (ConvertRow only copies).
    bool IsCopy() const { return kind_ == Kind::Copy; }

private:
    enum class Kind {
        Copy,         // already in the frame's layout (8 bpp indices, 16 bpp 5-5-5, 24 bpp B,G,R, 32 bpp B,G,R,x)
        Rgb565To555,  // 16 bpp 5-6-5 screens
        Masks32,      // 32 bpp with other channel masks (depth 30): scaled to 8 bits a channel
        Masks16,      // 16 bpp with other channel masks: scaled to 5 bits a channel
    };

    struct Channel {
        int shift = 0;  // position of the mask's lowest bit
        int bits = 0;   // width of the mask
        uint32_t mask = 0;

        explicit Channel(uint32_t m = 0) : shift(m ? std::countr_zero(m) : 0), bits(std::popcount(m)), mask(m) {}

        // The channel's value scaled to `target` bits.
        uint32_t Take(uint32_t pixel, int target) const
        {
            const uint32_t v = (pixel & mask) >> shift;
            if (bits >= target)
                return v >> (bits - target);
            if (bits == 0)
                return 0;
            uint32_t out = 0;  // the bits repeated downwards, so that full scale stays full scale
            for (int pos = target - bits; pos > -bits; pos -= bits)
                out |= pos >= 0 ? v << pos : v >> -pos;
            return out;
        }
    };

    Kind kind_ = Kind::Copy;
    int bytesPerPixel_ = 0;
    Channel red_, green_, blue_;
};

}  // namespace platform
