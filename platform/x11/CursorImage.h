// The pointer's image, hot spot and position (XFixes), and drawing it into a frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

class XDisplay;
class ScreenPalette;

struct CursorImage {
    int x = 0, y = 0;        // pointer position in root coordinates
    int xhot = 0, yhot = 0;  // hot spot inside the image
    int width = 0, height = 0;
    uint32_t serial = 0;     // changes when the cursor's image changes
    std::vector<uint32_t> argb;  // width * height premultiplied ARGB words, rows top-down
};

class CursorReader {
public:
    explicit CursorReader(XDisplay& display);
    // Reads the current cursor into *image; the pixel buffer is reused and grows only
    // when a larger cursor appears. False when the server cannot tell.
    bool Read(CursorImage* image);
    // Why the last Read failed, with the X error's fields when there was one.
    const std::string& LastError() const { return lastError_; }

private:
    bool EnsureExtension();

    XDisplay& display_;
    bool extensionReady_ = false;
    std::string lastError_;
};

// Alpha-blends the cursor into the frame with the image's top-left corner at (x, y)
// of the frame (that is, position minus hot spot, in frame coordinates), clipped to
// the frame. Frames of 32 bpp (B, G, R, 0), 24 bpp (B, G, R), 16 bpp (5-5-5) and,
// with the screen's palette, 8 bpp (indices: the blended colour becomes the nearest
// index) are supported; others are left unchanged. Each channel becomes
// cursor + frame * (255 - alpha) / 255, rounded, at most 255.
void DrawCursor(const CursorImage& cursor, int x, int y, uint8_t* pixels, int width, int height,
                size_t stride, int bitsPerPixel, const ScreenPalette* palette = nullptr);

}  // namespace platform
