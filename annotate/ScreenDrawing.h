// The screen side of drawing while recording, for the program's UI thread: pen
// segments on the screen (the root window, or the canvas window on a compositing
// desktop), the eraser's restoring of what is beneath, the whole-screen repaint,
// the pick highlight and window rectangles. Owns its XCB connection.
#pragma once

#include <xcb/xcb.h>

#include <memory>
#include <string>

#include "annotate/CompositorDetect.h"
#include "annotate/DrawGeometry.h"
#include "annotate/FramePixel.h"
#include "annotate/RootPen.h"
#include "annotate/ScreenColour.h"
#include "annotate/ScreenRepaint.h"
#include "annotate/StrokeCanvas.h"
#include "annotate/WindowHighlight.h"
#include "annotate/XConnection.h"

namespace annotate {

class FreehandDrawing;

class ScreenDrawing {
public:
    // Opens a connection of its own from $DISPLAY. Null with *error on failure.
    static std::unique_ptr<ScreenDrawing> Create(std::string* error = nullptr);

    DrawPath Path() const { return path_; }
    // Looks again whether a compositing manager runs (one may have started or ended
    // since); on a change the highlight and the canvas follow the new path.
    DrawPath DetectPath();
    std::string PathText() const { return DrawPathText(path_); }
    // Bits per pixel of the screen's frames (the root depth's pixmap format).
    int FrameBitsPerPixel() const;
    uint32_t FramePixel(ColorRef color) { return colour_.FramePixel(color, FrameBitsPerPixel()); }

    // A pen segment in root coordinates, clipped to the recorded window.
    bool DrawPen(Point last, Point p, int32_t penSize, ColorRef color, const RectL& captureRect);
    // Restores the screen along the segment: repaints its bounding box (root path)
    // or clears the canvas along it. The second refresh, when due, is in the result.
    RepaintResult Erase(Point last, Point p, int32_t eraserSize, const RectL& captureRect);
    // Repaints the whole screen and empties the canvas. Call
    // FreehandDrawing::RequestRefresh again after RefreshAgainAfter.
    RepaintResult RepaintWholeScreen();
    // Paints the drawing back onto the screen (root window or canvas) with the same
    // AND/OR pair that adds it to frames, over the area drawn since the last clear.
    bool RedrawDrawing(FreehandDrawing& drawing, const RectL& captureRect);
    // Takes the canvas away (end of a recording).
    void EndDrawing() { canvas_.reset(); }
    xcb_window_t CanvasWindow() const { return canvas_ ? canvas_->Id() : 0; }

    bool ToggleWindowHighlight(xcb_window_t window) { return highlight_->ToggleWindowHighlight(window); }
    const WindowHighlight& Highlight() const { return *highlight_; }
    bool WindowRect(xcb_window_t window, RectL* rect);

    XConnection& Connection() { return *x_; }
    const std::string& LastError() const { return x_->LastError(); }

private:
    explicit ScreenDrawing(std::unique_ptr<XConnection> x);
    bool EnsureCanvas(const RectL& captureRect);
    bool PutImage(xcb_drawable_t target, uint8_t depth, const RectL& at, const uint8_t* pixels, size_t stride);

    std::unique_ptr<XConnection> x_;
    DrawPath path_;
    ScreenColour colour_;
    RootPen rootPen_;
    std::unique_ptr<WindowHighlight> highlight_;
    std::unique_ptr<StrokeCanvas> canvas_;
};

}  // namespace annotate
