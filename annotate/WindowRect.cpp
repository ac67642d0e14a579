#include "annotate/WindowRect.h"

#include "annotate/XConnection.h"

namespace annotate {

bool GetWindowRect(XConnection& x, xcb_window_t window, RectL* rect)
{
    if (x.Display().GetWindowRect(window, rect))
        return true;
    x.SetError(x.Display().LastError());
    return false;
}

}  // namespace annotate
