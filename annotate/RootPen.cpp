#include "annotate/RootPen.h"

#include "annotate/XConnection.h"

namespace annotate {

RootPen::RootPen(XConnection& x) : x_(x)
{
    xcb_connection_t* c = x.Get();
    const xcb_gcontext_t id = xcb_generate_id(c);
    const uint32_t values[] = {XCB_LINE_STYLE_SOLID, XCB_CAP_STYLE_ROUND, XCB_JOIN_STYLE_ROUND,
                               XCB_SUBWINDOW_MODE_INCLUDE_INFERIORS, 0};
    if (x.Check(xcb_create_gc_checked(c, id, x.Root(),
                                      XCB_GC_LINE_STYLE | XCB_GC_CAP_STYLE | XCB_GC_JOIN_STYLE |
                                          XCB_GC_SUBWINDOW_MODE | XCB_GC_GRAPHICS_EXPOSURES,
                                      values),
                "CreateGC (root pen)"))
        gc_ = XGc(c, id);
}

bool RootPen::DrawSegment(Point last, Point p, int32_t lineWidth, uint32_t pixel, const RectL& clip)
{
    if (!gc_)
        return false;
    xcb_connection_t* c = x_.Get();
    const uint32_t values[] = {pixel, static_cast<uint32_t>(lineWidth)};
    xcb_change_gc(c, gc_.Id(), XCB_GC_FOREGROUND | XCB_GC_LINE_WIDTH, values);
    const xcb_rectangle_t clipRect{static_cast<int16_t>(clip.left), static_cast<int16_t>(clip.top),
                                   static_cast<uint16_t>(std::max(clip.right - clip.left, 0)),
                                   static_cast<uint16_t>(std::max(clip.bottom - clip.top, 0))};
    xcb_set_clip_rectangles(c, XCB_CLIP_ORDERING_UNSORTED, gc_.Id(), 0, 0, 1, &clipRect);
    const xcb_point_t points[] = {{static_cast<int16_t>(last.x), static_cast<int16_t>(last.y)},
                                  {static_cast<int16_t>(p.x), static_cast<int16_t>(p.y)}};
    return x_.Check(xcb_poly_line_checked(c, XCB_COORD_MODE_ORIGIN, x_.Root(), gc_.Id(), 2, points),
                    "PolyLine (root pen)");
}

}  // namespace annotate
