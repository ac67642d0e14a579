// Which screen source a recording uses, and why: the X11 grab of the root window, or
// the desktop portal's screen cast. TAVREC_SCREEN_SOURCE=portal or x11 forces one
// (anything else, or unset, chooses). Chosen: the portal when the session is
// Wayland (WAYLAND_DISPLAY set, or XDG_SESSION_TYPE=wayland) and the X11 grab would
// not see the desktop (no X display answers, it is XWayland, or a GetImage of the
// root fails); the X11 grab in every other case, without looking at X at all when
// the session is not Wayland.
#pragma once

#include <string>

namespace platform {

enum class ScreenSourceKind { X11, Portal };

struct ScreenSourceChoice {
    ScreenSourceKind kind = ScreenSourceKind::X11;
    std::string reason;  // one line, e.g. "WAYLAND_DISPLAY is set and DISPLAY :1 is XWayland"
};

// forced: "portal", "x11", or null/"auto"/anything else to choose.
ScreenSourceChoice ChooseScreenSource(const char* forced);
// The same with the environment's TAVREC_SCREEN_SOURCE.
ScreenSourceChoice ChooseScreenSource();

const char* ScreenSourceName(ScreenSourceKind kind);  // "x11" or "portal"

}  // namespace platform
