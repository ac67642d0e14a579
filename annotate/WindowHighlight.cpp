#include "annotate/WindowHighlight.h"

#include <xcb/shape.h>

#include "annotate/ScreenColour.h"
#include "annotate/WindowRect.h"
#include "annotate/XConnection.h"

namespace annotate {

namespace {

xcb_rectangle_t Rect(int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    return xcb_rectangle_t{static_cast<int16_t>(left), static_cast<int16_t>(top),
                           static_cast<uint16_t>(right - left), static_cast<uint16_t>(bottom - top)};
}

}  // namespace

// The region (l+1, t+1, r, b) XOR (l+4, t+4, r-3, b-3), as four disjoint bands; when
// the inner rectangle is empty the whole outer one.
std::vector<xcb_rectangle_t> HighlightFrameRects(const RectL& r)
{
    const RectL outer{r.left + 1, r.top + 1, r.right, r.bottom};
    const RectL inner{r.left + 4, r.top + 4, r.right - 3, r.bottom - 3};
    std::vector<xcb_rectangle_t> rects;
    if (outer.right <= outer.left || outer.bottom <= outer.top)
        return rects;
    if (inner.right <= inner.left || inner.bottom <= inner.top) {
        rects.push_back(Rect(outer.left, outer.top, outer.right, outer.bottom));
        return rects;
    }
    rects.push_back(Rect(outer.left, outer.top, outer.right, inner.top));        // top
    rects.push_back(Rect(outer.left, inner.bottom, outer.right, outer.bottom));  // bottom
    rects.push_back(Rect(outer.left, inner.top, inner.left, inner.bottom));      // left
    rects.push_back(Rect(inner.right, inner.top, outer.right, inner.bottom));    // right
    return rects;
}

WindowHighlight::WindowHighlight(XConnection& x, DrawPath path) : x_(x), path_(path)
{
    if (path_ != DrawPath::RootWindow)
        return;
    xcb_connection_t* c = x.Get();
    const xcb_gcontext_t id = xcb_generate_id(c);
    // In the order of the mask bits: function, foreground, subwindow mode, exposures.
    const uint32_t values[] = {XCB_GX_XOR, ScreenColour(x).ScreenPixel(kHighlightColorRef),
                               XCB_SUBWINDOW_MODE_INCLUDE_INFERIORS, 0};
    if (x.Check(xcb_create_gc_checked(c, id, x.Root(),
                                      XCB_GC_FUNCTION | XCB_GC_FOREGROUND | XCB_GC_GRAPHICS_EXPOSURES |
                                          XCB_GC_SUBWINDOW_MODE,
                                      values),
                "CreateGC (highlight)"))
        xorGc_ = XGc(c, id);
}

// Frames still on the screen are taken off again.
WindowHighlight::~WindowHighlight()
{
    for (const auto& [window, r] : drawn_)
        XorFrame(r);
}

bool WindowHighlight::IsShown(xcb_window_t window) const
{
    return drawn_.count(window) || frameWindows_.count(window);
}

xcb_window_t WindowHighlight::HighlightWindowOf(xcb_window_t window) const
{
    auto it = frameWindows_.find(window);
    return it == frameWindows_.end() ? 0 : it->second.Id();
}

bool WindowHighlight::ToggleWindowHighlight(xcb_window_t window)
{
    if (auto it = drawn_.find(window); it != drawn_.end()) {
        const bool ok = XorFrame(it->second);
        drawn_.erase(it);
        return ok;
    }
    if (auto it = frameWindows_.find(window); it != frameWindows_.end()) {
        frameWindows_.erase(it);
        return x_.Sync();
    }
    RectL r;
    if (!GetWindowRect(x_, window, &r))
        return false;
    if (path_ == DrawPath::CompositorCanvas)
        return ShowWindowFrame(window, r);
    if (!XorFrame(r))
        return false;
    drawn_[window] = r;
    return true;
}

bool WindowHighlight::XorFrame(const RectL& r)
{
    if (!xorGc_)
        return false;
    const auto rects = HighlightFrameRects(r);
    if (rects.empty())
        return true;
    return x_.Check(xcb_poly_fill_rectangle_checked(x_.Get(), x_.Root(), xorGc_.Id(),
                                                    static_cast<uint32_t>(rects.size()), rects.data()),
                    "PolyFillRectangle (highlight)");
}

bool WindowHighlight::ShowWindowFrame(xcb_window_t window, const RectL& r)
{
    const RectL local{0, 0, r.right - r.left, r.bottom - r.top};
    const auto rects = HighlightFrameRects(local);
    if (rects.empty())
        return true;
    xcb_connection_t* c = x_.Get();
    const xcb_window_t id = xcb_generate_id(c);
    const uint32_t values[] = {ScreenColour(x_).ScreenPixel(kHighlightColorRef), 1};
    if (!x_.Check(xcb_create_window_checked(c, XCB_COPY_FROM_PARENT, id, x_.Root(), static_cast<int16_t>(r.left),
                                            static_cast<int16_t>(r.top), static_cast<uint16_t>(local.right),
                                            static_cast<uint16_t>(local.bottom), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                                            XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT,
                                            values),
                  "CreateWindow (highlight)"))
        return false;
    XWindow frame(c, id);
    if (!x_.Check(xcb_shape_rectangles_checked(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, XCB_CLIP_ORDERING_UNSORTED,
                                               id, 0, 0, static_cast<uint32_t>(rects.size()), rects.data()),
                  "ShapeRectangles (highlight bounding)") ||
        !x_.Check(xcb_shape_rectangles_checked(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT, XCB_CLIP_ORDERING_UNSORTED,
                                               id, 0, 0, 0, nullptr),
                  "ShapeRectangles (highlight input)") ||
        !x_.Check(xcb_map_window_checked(c, id), "MapWindow (highlight)"))
        return false;
    frameWindows_.emplace(window, std::move(frame));
    return true;
}

}  // namespace annotate
