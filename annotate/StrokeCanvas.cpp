#include "annotate/StrokeCanvas.h"

#include <xcb/shape.h>

#include "annotate/XConnection.h"

namespace annotate {

namespace {

xcb_visualid_t ArgbVisual(xcb_screen_t* screen)
{
    for (auto depths = xcb_screen_allowed_depths_iterator(screen); depths.rem; xcb_depth_next(&depths)) {
        if (depths.data->depth != 32)
            continue;
        for (auto v = xcb_depth_visuals_iterator(depths.data); v.rem; xcb_visualtype_next(&v))
            if (v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR)
                return v.data->visual_id;
    }
    return 0;
}

}  // namespace

std::unique_ptr<StrokeCanvas> StrokeCanvas::Create(XConnection& x, const RectL& area)
{
    const xcb_visualid_t visual = ArgbVisual(x.Screen());
    if (!visual) {
        x.SetError("the screen has no 32-bit TrueColor visual for the canvas window");
        return nullptr;
    }
    xcb_connection_t* c = x.Get();
    const xcb_colormap_t colormapId = xcb_generate_id(c);
    if (!x.Check(xcb_create_colormap_checked(c, XCB_COLORMAP_ALLOC_NONE, colormapId, x.Root(), visual),
                 "CreateColormap (canvas)"))
        return nullptr;
    XColormap colormap(c, colormapId);

    const xcb_window_t windowId = xcb_generate_id(c);
    const uint32_t values[] = {0, 0, 1, colormapId};
    if (!x.Check(xcb_create_window_checked(c, 32, windowId, x.Root(), static_cast<int16_t>(area.left),
                                           static_cast<int16_t>(area.top),
                                           static_cast<uint16_t>(std::max(area.right - area.left, 1)),
                                           static_cast<uint16_t>(std::max(area.bottom - area.top, 1)), 0,
                                           XCB_WINDOW_CLASS_INPUT_OUTPUT, visual,
                                           XCB_CW_BACK_PIXEL | XCB_CW_BORDER_PIXEL | XCB_CW_OVERRIDE_REDIRECT |
                                               XCB_CW_COLORMAP,
                                           values),
                 "CreateWindow (canvas)"))
        return nullptr;
    XWindow window(c, windowId);
    // No input region at all: clicks and motion reach the windows beneath.
    if (!x.Check(xcb_shape_rectangles_checked(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT, XCB_CLIP_ORDERING_UNSORTED,
                                              windowId, 0, 0, 0, nullptr),
                 "ShapeRectangles (canvas input)"))
        return nullptr;

    const xcb_gcontext_t gcId = xcb_generate_id(c);
    const uint32_t gcValues[] = {XCB_JOIN_STYLE_ROUND, 0};
    if (!x.Check(xcb_create_gc_checked(c, gcId, windowId, XCB_GC_JOIN_STYLE | XCB_GC_GRAPHICS_EXPOSURES, gcValues),
                 "CreateGC (canvas)"))
        return nullptr;
    XGc gc(c, gcId);
    if (!x.Check(xcb_map_window_checked(c, windowId), "MapWindow (canvas)"))
        return nullptr;
    return std::unique_ptr<StrokeCanvas>(
        new StrokeCanvas(x, std::move(colormap), std::move(window), std::move(gc), area));
}

StrokeCanvas::StrokeCanvas(XConnection& x, XColormap colormap, XWindow window, XGc gc, const RectL& area)
    : x_(x), colormap_(std::move(colormap)), window_(std::move(window)), gc_(std::move(gc)), area_(area)
{
}

bool StrokeCanvas::Place(const RectL& area)
{
    if (area.left == area_.left && area.top == area_.top && area.right == area_.right &&
        area.bottom == area_.bottom)
        return true;
    area_ = area;
    const uint32_t values[] = {static_cast<uint32_t>(area.left), static_cast<uint32_t>(area.top),
                               static_cast<uint32_t>(std::max(area.right - area.left, 1)),
                               static_cast<uint32_t>(std::max(area.bottom - area.top, 1)), XCB_STACK_MODE_ABOVE};
    return x_.Check(xcb_configure_window_checked(x_.Get(), window_.Id(),
                                                 XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                                                     XCB_CONFIG_WINDOW_HEIGHT | XCB_CONFIG_WINDOW_STACK_MODE,
                                                 values),
                    "ConfigureWindow (canvas)");
}

bool StrokeCanvas::Line(Point last, Point p, int32_t lineWidth, uint32_t pixel, uint32_t cap)
{
    xcb_connection_t* c = x_.Get();
    const uint32_t values[] = {pixel, static_cast<uint32_t>(lineWidth), cap};
    xcb_change_gc(c, gc_.Id(), XCB_GC_FOREGROUND | XCB_GC_LINE_WIDTH | XCB_GC_CAP_STYLE, values);
    const xcb_point_t points[] = {
        {static_cast<int16_t>(last.x - area_.left), static_cast<int16_t>(last.y - area_.top)},
        {static_cast<int16_t>(p.x - area_.left), static_cast<int16_t>(p.y - area_.top)}};
    return x_.Check(xcb_poly_line_checked(c, XCB_COORD_MODE_ORIGIN, window_.Id(), gc_.Id(), 2, points),
                    "PolyLine (canvas)");
}

bool StrokeCanvas::DrawSegment(Point last, Point p, int32_t lineWidth, uint32_t argb)
{
    return Line(last, p, lineWidth, argb, XCB_CAP_STYLE_ROUND);
}

bool StrokeCanvas::EraseSegment(Point last, Point p, int32_t lineWidth)
{
    return Line(last, p, lineWidth, 0, XCB_CAP_STYLE_PROJECTING);
}

bool StrokeCanvas::Clear()
{
    return x_.Check(xcb_clear_area_checked(x_.Get(), 0, window_.Id(), 0, 0, 0, 0), "ClearArea (canvas)");
}

}  // namespace annotate
