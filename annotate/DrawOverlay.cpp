#include "annotate/DrawOverlay.h"

#include <algorithm>

#include "annotate/SegmentRaster.h"

namespace annotate {

DrawOverlay::DrawOverlay(int32_t width, int32_t height, int bitsPerPixel)
    : bitsPerPixel_(bitsPerPixel),
      colour_(width, height, std::max(bitsPerPixel / 8, 1), 0),
      mask_(width, height, 1, kMaskClear)
{
}

void DrawOverlay::Pen(Point a, Point b, int32_t lineWidth, uint32_t framePixel)
{
    RasterSegment(a, b, lineWidth, LineCap::Round, Width(), Height(), [&](int32_t y, int32_t x0, int32_t x1) {
        colour_.FillSpan(y, x0, x1, framePixel);
        mask_.FillSpan(y, x0, x1, kMaskStroke);
    });
}

void DrawOverlay::Erase(Point a, Point b, int32_t lineWidth)
{
    RasterSegment(a, b, lineWidth, LineCap::Square, Width(), Height(), [&](int32_t y, int32_t x0, int32_t x1) {
        colour_.FillSpan(y, x0, x1, 0);
        mask_.FillSpan(y, x0, x1, kMaskClear);
    });
}

void DrawOverlay::Clear()
{
    colour_.Fill(0);
    mask_.Fill(kMaskClear);
}

bool DrawOverlay::AddTo(FrameSurface& frame, const RectL& area, Point origin) const
{
    if (!frame.Pixels || frame.BitsPerPixel != bitsPerPixel_ || frame.Stride <= 0)
        return false;
    const int bytes = colour_.BytesPerPixel();
    if (static_cast<int64_t>(frame.Width) * bytes > frame.Stride)
        return false;
    // Overlay coordinates inside both the overlay and the frame.
    const RectL inFrame{origin.x, origin.y, origin.x + frame.Width, origin.y + frame.Height};
    RectL r = ClipTo(area, Width(), Height());
    r = RectL{std::max(r.left, inFrame.left), std::max(r.top, inFrame.top), std::min(r.right, inFrame.right),
              std::min(r.bottom, inFrame.bottom)};
    if (IsEmpty(r))
        return false;
    for (int32_t y = r.top; y < r.bottom; ++y) {
        const uint8_t* mask = mask_.Row(y) + r.left;
        const uint8_t* colour = colour_.Row(y) + static_cast<size_t>(r.left) * bytes;
        uint8_t* out = frame.Pixels + static_cast<size_t>(y - origin.y) * frame.Stride +
                       static_cast<size_t>(r.left - origin.x) * bytes;
        const size_t count = static_cast<size_t>(r.right - r.left);
        for (size_t i = 0; i < count; ++i) {
            const uint8_t m = mask[i];
            for (int k = 0; k < bytes; ++k, ++out, ++colour)
                *out = static_cast<uint8_t>((*out & m) | *colour);
        }
    }
    return true;
}

}  // namespace annotate
