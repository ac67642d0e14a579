// The colours of an 8-bit screen's default colormap, read once, so that pixels of
// other colours (the cursor's) can be put into an 8-bit frame as their nearest index.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

class XDisplay;

class ScreenPalette {
public:
    // The 256 entries of the root's default colormap; null when they cannot be read.
    static std::unique_ptr<ScreenPalette> Read(XDisplay& display, std::string* error = nullptr);

    // 0x00RRGGBB of the index.
    uint32_t Color(uint8_t index) const { return colors_[index]; }
    // The index whose colour is nearest (squared distance) to r, g, b.
    uint8_t Nearest(uint32_t r, uint32_t g, uint32_t b) const;

private:
    std::array<uint32_t, 256> colors_{};
};

}  // namespace platform
