#include "annotate/CompositorDetect.h"

#include "annotate/XConnection.h"
#include "platform/x11/XDisplayError.h"

namespace annotate {

DrawPath CompositorDetect(XConnection& x)
{
    const xcb_atom_t selection = x.Atom("_NET_WM_CM_S" + std::to_string(x.ScreenNumber()));
    if (selection == XCB_ATOM_NONE)
        return DrawPath::RootWindow;
    std::string error;
    auto owner = platform::XcbReply(x.Get(), xcb_get_selection_owner(x.Get(), selection),
                                    xcb_get_selection_owner_reply, "GetSelectionOwner", &error);
    if (!owner) {
        x.SetError(error);
        return DrawPath::RootWindow;
    }
    return owner->owner != XCB_WINDOW_NONE ? DrawPath::CompositorCanvas : DrawPath::RootWindow;
}

std::string DrawPathText(DrawPath path)
{
    return path == DrawPath::CompositorCanvas
               ? "drawing in a canvas window (a compositing manager is running)"
               : "drawing on the root window (no compositing manager)";
}

}  // namespace annotate
