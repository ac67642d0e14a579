#include "annotate/ScreenRepaint.h"

#include <algorithm>

#include "annotate/DrawGeometry.h"
#include "annotate/XConnection.h"
#include "annotate/XResource.h"

namespace annotate {

RepaintResult RepaintScreen(XConnection& x, const RectL& area)
{
    xcb_screen_t* screen = x.Screen();
    RectL r = IsEmpty(area) ? RectL{0, 0, screen->width_in_pixels, screen->height_in_pixels} : area;
    r = ClipTo(r, screen->width_in_pixels, screen->height_in_pixels);
    if (IsEmpty(r))
        return RepaintResult{true, std::chrono::milliseconds{0}};

    xcb_connection_t* c = x.Get();
    const xcb_window_t id = xcb_generate_id(c);
    const uint32_t values[] = {XCB_BACK_PIXMAP_NONE, 1};
    if (!x.Check(xcb_create_window_checked(c, XCB_COPY_FROM_PARENT, id, x.Root(),
                                           static_cast<int16_t>(r.left), static_cast<int16_t>(r.top),
                                           static_cast<uint16_t>(r.right - r.left),
                                           static_cast<uint16_t>(r.bottom - r.top), 0,
                                           XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                                           XCB_CW_BACK_PIXMAP | XCB_CW_OVERRIDE_REDIRECT, values),
                 "CreateWindow (repaint cover)"))
        return RepaintResult{};
    XWindow cover(c, id);
    const bool mapped = x.Check(xcb_map_window_checked(c, cover.Id()), "MapWindow (repaint cover)");
    const bool synced = mapped && x.Sync();
    cover.Reset();
    const bool done = x.Sync() && synced;
    return RepaintResult{done, done ? kLateRedrawDelay : std::chrono::milliseconds{0}};
}

}  // namespace annotate
