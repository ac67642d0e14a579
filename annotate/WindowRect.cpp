#include "annotate/WindowRect.h"

#include "annotate/XConnection.h"
#include "platform/XDisplayError.h"

namespace annotate {

bool GetWindowRect(XConnection& x, xcb_window_t window, RectL* rect)
{
    std::string error;
    xcb_window_t top = window;
    while (top != x.Root()) {
        auto tree = platform::XcbReply(x.Get(), xcb_query_tree(x.Get(), top), xcb_query_tree_reply, "QueryTree",
                                       &error);
        if (!tree) {
            x.SetError(error);
            return false;
        }
        if (tree->parent == x.Root() || tree->parent == XCB_WINDOW_NONE)
            break;
        top = tree->parent;
    }
    auto geometry =
        platform::XcbReply(x.Get(), xcb_get_geometry(x.Get(), top), xcb_get_geometry_reply, "GetGeometry", &error);
    if (!geometry) {
        x.SetError(error);
        return false;
    }
    if (top == x.Root()) {
        *rect = RectL{0, 0, geometry->width, geometry->height};
        return true;
    }
    const int border = 2 * geometry->border_width;
    *rect = RectL{geometry->x, geometry->y, geometry->x + geometry->width + border,
                  geometry->y + geometry->height + border};
    return true;
}

}  // namespace annotate
