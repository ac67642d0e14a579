// Where pen lines go on a compositing desktop: a transparent ARGB32 override-redirect
// window over the recorded window's rectangle, with an empty input shape so every
// pointer event passes through to what lies beneath (the draw hook's window). The
// eraser clears it along the segment; Clear empties it. UI thread.
#pragma once

#include <cstdint>
#include <memory>

#include "annotate/DrawGeometry.h"
#include "annotate/XResource.h"

namespace annotate {

class XConnection;

class StrokeCanvas {
public:
    // Null (with the connection's LastError) when the screen has no 32-bit visual
    // or the window cannot be made.
    static std::unique_ptr<StrokeCanvas> Create(XConnection& x, const RectL& area);

    xcb_window_t Id() const { return window_.Id(); }
    const RectL& Area() const { return area_; }
    // Moves and resizes the canvas when the recorded window moved.
    bool Place(const RectL& area);

    // Points in root coordinates; argb is an opaque premultiplied pixel.
    bool DrawSegment(Point last, Point p, int32_t lineWidth, uint32_t argb);
    bool EraseSegment(Point last, Point p, int32_t lineWidth);
    bool Clear();

private:
    StrokeCanvas(XConnection& x, XColormap colormap, XWindow window, XGc gc, const RectL& area);
    bool Line(Point last, Point p, int32_t lineWidth, uint32_t pixel, uint32_t cap);

    XConnection& x_;
    XColormap colormap_;
    XWindow window_;
    XGc gc_;
    RectL area_;
};

}  // namespace annotate
