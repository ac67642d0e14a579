// A window's rectangle in root coordinates, frame included: the rectangle of the
// child of the root that holds it (a managed window's frame), border counted. The
// root gives the whole screen. UI thread.
#pragma once

#include <xcb/xcb.h>

#include "platform/WinTypes.h"

namespace annotate {

class XConnection;

// False (with LastError) when the window does not exist.
bool GetWindowRect(XConnection& x, xcb_window_t window, RectL* rect);

}  // namespace annotate
