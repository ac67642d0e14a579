// How a frame of the screen-cast stream becomes a frame of the recording: the
// stream's pixels (one of the packed RGB layouts PipeWire names) are turned into the
// recording's 32-bit B, G, R, 0 pixels. The recording keeps the size it started
// with: a stream that changed size is copied into its top-left corner, clipped, and
// the rest of the frame is black, as a screen that shrank leaves it on X11.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Byte order of a stream pixel in memory; X is a padding or alpha byte.
enum class StreamPixelLayout {
    Unknown,
    Bgrx,  // B, G, R, X (also B, G, R, A)
    Rgbx,  // R, G, B, X (also R, G, B, A)
    Xrgb,  // X, R, G, B (also A, R, G, B)
    Xbgr,  // X, B, G, R (also A, B, G, R)
    Bgr,   // B, G, R
    Rgb,   // R, G, B
};

// Bytes a pixel of the layout takes; 0 for Unknown.
int StreamPixelBytes(StreamPixelLayout layout);

struct StreamImage {
    const uint8_t* pixels = nullptr;
    size_t stride = 0;
    int width = 0;
    int height = 0;
    StreamPixelLayout layout = StreamPixelLayout::Unknown;
};

struct FrameImage {
    uint8_t* pixels = nullptr;  // 32-bit B, G, R, 0 pixels, rows top-down
    size_t stride = 0;
    int width = 0;
    int height = 0;
};

// Converts count pixels of one row.
void ConvertStreamRow(const uint8_t* src, StreamPixelLayout layout, uint8_t* dst, int count);

// Fills the whole frame from the image: its top-left part converted, the rest black.
// False (frame untouched) when the layout is Unknown.
bool ConvertStreamFrame(const StreamImage& image, const FrameImage& frame);

}  // namespace platform
