// The uncompressed frame format of a window on the screen, as the codec list asks
// the compressors about it: a BITMAPINFOHEADER followed by its colour table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/WinTypes.h"
#include "platform/x11/XDisplay.h"

namespace settings {

// A BITMAPINFOHEADER followed by its colour table (256 zero entries at 8 bits), as
// one block.
class ScreenFormat {
public:
    const BitmapInfoHeader& Header() const;
    const void* Data() const;
    size_t Size() const;
    // Entries in the colour table that follows the header.
    size_t ColourCount() const;

private:
    friend std::optional<ScreenFormat> BuildScreenFormat(int width, int height, int depth);
    explicit ScreenFormat(size_t colours);
    // Whole 4-byte words, so the header at the front is suitably aligned.
    std::vector<uint32_t> block_;
};

// The format of a width x height bitmap at depth bits per pixel: none for depths 1, 2
// and 4 (a 2-, 4- or 16-colour palette), and none for a size that is not positive or
// whose image does not fit 32 bits. biSize 40, biPlanes 1, BI_RGB, biSizeImage =
// stride x height with stride ((depth x width + 31) / 32) x 4, biClrUsed 2^depth up
// to 8 bits and 0 above; an 8-bit format carries 256 zero colour entries.
std::optional<ScreenFormat> BuildScreenFormat(int width, int height, int depth);
// The format of that window's rectangle at the screen's bits per pixel (the root
// depth's pixmap format: depth 24 gives 32). None when the window does not exist.
std::optional<ScreenFormat> BuildScreenFormat(platform::XDisplay& display, platform::WindowId window);

}  // namespace settings
