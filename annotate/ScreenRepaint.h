// Makes every window under an area of the screen redraw itself: an override-redirect
// window with background None is mapped over it, the server is synced, and the
// window is destroyed; its disappearance exposes everything beneath. This wipes
// lines drawn on the root window and the XOR highlight. X clients redraw after
// they get the Expose, so a recording that wants the cleaned screen should grab
// again a little later: RefreshAgainAfter says when. UI thread.
#pragma once

#include <chrono>

#include "platform/WinTypes.h"

namespace annotate {

class XConnection;

struct RepaintResult {
    bool ok = false;
    // Ask the video thread for a fresh grab again after this long (FreehandDrawing::RequestRefresh).
    std::chrono::milliseconds RefreshAgainAfter{0};
};

inline constexpr std::chrono::milliseconds kLateRedrawDelay{250};

// The area in root coordinates; an empty area means the whole screen.
RepaintResult RepaintScreen(XConnection& x, const RectL& area = RectL{0, 0, 0, 0});

}  // namespace annotate
