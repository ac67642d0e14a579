// Copies an area of the screen into a frame buffer: MIT-SHM GetImage of the root into
// frame buffers of one shared segment made at creation, plain GetImage when the server
// has no MIT-SHM.
// Frames are always width x height; the part of the area outside the screen is black.
// TAVREC_NO_SHM=1 in the environment (read at Create) forces plain GetImage, as does a
// server that refuses the segment (one on another machine).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

class XDisplay;

// A rectangle of a frame: (x, y) its top-left pixel, rows top-down.
struct FrameRect {
    int x = 0, y = 0, width = 0, height = 0;
};

class ScreenGrabber {
public:
    // Frames of width x height at the root's bits per pixel, with `frames` frame
    // buffers of its own (FrameBuffer). Null on failure.
    static std::unique_ptr<ScreenGrabber> Create(XDisplay& display, int width, int height,
                                                 std::string* error = nullptr, int frames = 1);
    ~ScreenGrabber();
    ScreenGrabber(const ScreenGrabber&) = delete;
    ScreenGrabber& operator=(const ScreenGrabber&) = delete;

    // Copies the area whose top-left corner is (x, y) in root coordinates into dst:
    // rows top-down, dstStride bytes apart, pixels in the frame's layout (32 bpp:
    // B, G, R, 0 bytes; 16 bpp: RGB 5-5-5, as a 16-bit uncompressed AVI frame stores
    // it, converted from 5-6-5 screens; 8 bpp: the screen's indices). The fourth byte of
    // 32 bpp pixels is left as the server gives it (translucent windows leave their
    // alpha there): whoever stores the frame decides what it holds.
    // With more than one frame buffer and MIT-SHM, dst must be one of FrameBuffer(i):
    // the segment holds nothing else to receive the pixels in.
    bool Grab(int x, int y, uint8_t* dst, size_t dstStride);

    // Copies only the given rectangles of the area at (x, y) into dst, which holds an
    // earlier grab of it; the rest of dst stays as it is. Rectangles are in frame
    // coordinates and lie inside the frame; their parts off the screen are left alone.
    // The requests of all rectangles go out before the first reply is read. A screen
    // whose size changed since the last Grab is grabbed whole, as is the area when a
    // rectangle left the screen meanwhile. With MIT-SHM the server writes the
    // rectangles into a second segment, made at the first call.
    bool GrabParts(int x, int y, const FrameRect* rects, size_t count, uint8_t* dst, size_t dstStride);

    // A frame buffer of FrameStride() * height bytes owned by the grabber (inside the
    // shared segment with MIT-SHM), index 0 to Frames() - 1. Grab with dst =
    // FrameBuffer(i) and dstStride = FrameStride() lets the server write the pixels into
    // it directly, which saves the copy out of the segment. Rows are padded as the
    // server pads them: to 4 bytes on every usual server, as in a DIB.
    uint8_t* FrameBuffer(int index = 0);
    size_t FrameStride() const;
    int Frames() const;

    bool UsesShm() const;
    int BitsPerPixel() const;
    const std::string& LastError() const;

    struct Impl;

private:
    explicit ScreenGrabber(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
