// The off-screen copy of the user's drawing, as large as the recorded window was
// when the recording started; coordinates are relative to its top-left corner.
// ColourLayer has the frames' pixel format and is black where nothing is drawn;
// MaskLayer holds one byte per pixel, 0xFF where nothing is drawn and 0 under
// strokes. Adding the drawing to a frame ANDs the frame with the mask and ORs the
// colour in. Not locked itself: FreehandDrawing guards it with DrawLock.
#pragma once

#include <cstdint>

#include "annotate/DrawGeometry.h"
#include "annotate/PixelLayer.h"
#include "engine/korvid.h"

namespace annotate {

class DrawOverlay {
public:
    static constexpr uint8_t kMaskClear = 0xFF;  // nothing drawn
    static constexpr uint8_t kMaskStroke = 0x00;

    DrawOverlay(int32_t width, int32_t height, int bitsPerPixel);

    int32_t Width() const { return colour_.Width(); }
    int32_t Height() const { return colour_.Height(); }
    int BitsPerPixel() const { return bitsPerPixel_; }

    // A pen line with round caps in the frame value framePixel.
    void Pen(Point a, Point b, int32_t lineWidth, uint32_t framePixel);
    // Wipes back to nothing drawn along the whole segment, square caps.
    void Erase(Point a, Point b, int32_t lineWidth);
    void Clear();

    // Adds the drawing inside area to the frame (AND mask, OR colour). The area is
    // clipped to the smaller of frame and overlay; a frame of another pixel format
    // is left alone. Returns false when nothing could be added.
    bool AddTo(FrameSurface& frame, const RectL& area) const { return AddTo(frame, area, Point{0, 0}); }
    // The same onto a frame whose pixel (0, 0) shows overlay point origin.
    bool AddTo(FrameSurface& frame, const RectL& area, Point origin) const;

    const PixelLayer& ColourLayer() const { return colour_; }
    const PixelLayer& MaskLayer() const { return mask_; }

private:
    int bitsPerPixel_;
    PixelLayer colour_;
    PixelLayer mask_;
};

}  // namespace annotate
