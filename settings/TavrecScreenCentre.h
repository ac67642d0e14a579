// Centres a window on the screen, frame included. The frame's size is known only once
// the window manager has framed the shown window, so the window is first placed by its
// client size and moved once more when the frame arrives.
#pragma once

class QWidget;

void CentreOnScreen(QWidget& window);
