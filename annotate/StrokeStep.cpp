#include "annotate/StrokeStep.h"

#include "annotate/FreehandDrawing.h"
#include "annotate/ScreenDrawing.h"

namespace annotate {

std::chrono::milliseconds StrokeStep(ScreenDrawing& screen, FreehandDrawing& drawing, Point last, Point p,
                                     const RectL& captureRect, const StrokeSettings& settings)
{
    if (settings.DrawTool == dtPen) {
        // The screen first, outside DrawLock: the video thread never waits on X.
        screen.DrawPen(last, p, settings.PenSize, settings.PenColor, captureRect);
        drawing.PenStep(last, p, captureRect, settings.PenSize, screen.FramePixel(settings.PenColor));
        return std::chrono::milliseconds{0};
    }
    if (settings.DrawTool == dtEraser) {
        drawing.EraserStep(last, p, captureRect, settings.EraserSize);
        return screen.Erase(last, p, settings.EraserSize, captureRect).RefreshAgainAfter;
    }
    return std::chrono::milliseconds{0};
}

}  // namespace annotate
