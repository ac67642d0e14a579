// Whether a compositing manager runs on the screen (an owner of the selection
// _NET_WM_CM_S<screen>). Without one, lines drawn on the root window with
// IncludeInferiors show; with one they are not seen, and the drawing goes into a
// window of its own instead.
#pragma once

#include <string>

namespace annotate {

class XConnection;

enum class DrawPath { RootWindow, CompositorCanvas };

DrawPath CompositorDetect(XConnection& x);
// Text for the program to report, e.g. "drawing on the root window (no compositing manager)".
std::string DrawPathText(DrawPath path);

}  // namespace annotate
