// One step of a stroke, as the program runs it on each HM_MOVE of the draw hook:
// the segment from LastPoint to the pointer goes onto the screen and into the
// overlay (pen), or is wiped from both (eraser). The capture window's rectangle is
// read again at each step by the caller. UI thread.
#pragma once

#include <chrono>

#include "annotate/DrawGeometry.h"
#include "annotate/FramePixel.h"

namespace annotate {

class FreehandDrawing;
class ScreenDrawing;

struct StrokeSettings {
    int32_t DrawTool = 0;  // dtPen or dtEraser
    ColorRef PenColor = 0x0000FF;
    int32_t PenSize = 1;
    int32_t EraserSize = 50;
};

// Returns when the video thread should be asked for a fresh grab once more (a
// repaint lets windows redraw late); zero when not.
std::chrono::milliseconds StrokeStep(ScreenDrawing& screen, FreehandDrawing& drawing, Point last, Point p,
                                     const RectL& captureRect, const StrokeSettings& settings);

}  // namespace annotate
