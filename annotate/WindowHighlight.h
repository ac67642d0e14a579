// The cyan frame drawn over the window under the pointer while the user picks the
// window to record. Toggle(window) draws it, the next Toggle of the same window
// removes it. The frame is 3 pixels wide, starting one pixel inside the left and
// top edges and ending at the right and bottom edges of the window's rectangle.
// Without a compositor it is an XOR fill of cyan on the root window with
// IncludeInferiors, so a second fill restores the pixels exactly (the rectangle
// drawn is remembered, so removal is exact even if the window moved meanwhile).
// With a compositor it is a shaped cyan override-redirect window, destroyed on
// removal. UI thread.
#pragma once

#include <xcb/xcb.h>

#include <map>
#include <vector>

#include "annotate/CompositorDetect.h"
#include "annotate/XResource.h"
#include "platform/WinTypes.h"

namespace annotate {

class XConnection;

// The frame's rectangles (disjoint) for a window rectangle, in the coordinates of r.
std::vector<xcb_rectangle_t> HighlightFrameRects(const RectL& r);

inline constexpr uint32_t kHighlightColorRef = 0xFFFF00;  // cyan

class WindowHighlight {
public:
    WindowHighlight(XConnection& x, DrawPath path);
    ~WindowHighlight();
    WindowHighlight(const WindowHighlight&) = delete;
    WindowHighlight& operator=(const WindowHighlight&) = delete;

    bool ToggleWindowHighlight(xcb_window_t window);
    bool IsShown(xcb_window_t window) const;
    // The highlight window over a window (compositor path), 0 when none.
    xcb_window_t HighlightWindowOf(xcb_window_t window) const;

private:
    bool XorFrame(const RectL& r);
    bool ShowWindowFrame(xcb_window_t window, const RectL& r);

    XConnection& x_;
    DrawPath path_;
    XGc xorGc_;
    std::map<xcb_window_t, RectL> drawn_;          // XOR frames on the screen
    std::map<xcb_window_t, XWindow> frameWindows_;  // shaped windows
};

}  // namespace annotate
