// The main window's one ScreenDrawing (its own X connection), made on first use.
#pragma once

namespace annotate { class ScreenDrawing; }

// Null when no X display can be opened.
annotate::ScreenDrawing* DrawingScreen();
// Repaints the whole screen; asks `drawing` for a fresh grab now and once more later.
void RepaintWholeScreen();
