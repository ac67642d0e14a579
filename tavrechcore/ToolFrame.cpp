#include "tavrechcore/ToolFrame.h"

#include "tavrechcore/XConnection.h"

namespace hookcore {

namespace {

// The outer rectangle of a child of the root: its position is that of the outer
// border corner, and the border runs around it on every side.
ScreenRect OuterRect(int16_t x, int16_t y, uint16_t width, uint16_t height, uint16_t border)
{
    return ScreenRect{x, y, width + 2 * border, height + 2 * border};
}

}  // namespace

void ToolFrame::Follow(xcb_window_t client)
{
    client_ = client;
    Locate();
}

void ToolFrame::Locate()
{
    frame_ = XCB_WINDOW_NONE;
    area_.reset();
    if (client_ == XCB_WINDOW_NONE || client_ == x_.Root())
        return;
    xcb_connection_t* c = x_.Get();
    // Walk up until the parent is the root.
    xcb_window_t current = client_;
    for (;;) {
        auto tree = x_.Ask(xcb_query_tree(c, current), xcb_query_tree_reply, "QueryTree of the tool window");
        if (!tree)
            return;
        if (tree->parent == x_.Root() || tree->parent == XCB_WINDOW_NONE)
            break;
        current = tree->parent;
    }
    frame_ = current;
    auto attributes = x_.Ask(xcb_get_window_attributes(c, frame_), xcb_get_window_attributes_reply,
                             "GetWindowAttributes of the tool frame");
    if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
        return;
    auto geometry = x_.Ask(xcb_get_geometry(c, frame_), xcb_get_geometry_reply, "GetGeometry of the tool frame");
    if (geometry)
        area_ = OuterRect(geometry->x, geometry->y, geometry->width, geometry->height, geometry->border_width);
}

bool ToolFrame::Configured(const xcb_configure_notify_event_t& event)
{
    if (event.window != frame_ || !area_)
        return false;
    const ScreenRect rect = OuterRect(event.x, event.y, event.width, event.height, event.border_width);
    if (rect == *area_)
        return false;
    area_ = rect;
    return true;
}

}  // namespace hookcore
