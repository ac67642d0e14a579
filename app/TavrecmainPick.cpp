// Picking what to record: the root window, the top-level window the user clicks on
// while the pick hook holds the pointer, or a free rectangle of the screen.
#include <QEventLoop>

#include "annotate/ScreenDrawing.h"
#include "app/DrawingScreen.h"
#include "app/RegionSelector.h"
#include "app/Tavrecmain.h"
#include "tavrechcore/tavrechcore.h"

namespace {

bool WindowExists(annotate::ScreenDrawing& screen, uint32_t window) {
    RectL rect{};
    return window != 0 && screen.WindowRect(window, &rect);
}

}  // namespace

uint32_t TfrmMain::PickCaptureWindow(int32_t mode) {
    annotate::ScreenDrawing* screen = DrawingScreen();
    captureRegion_ = CaptureRegion{};
    if (!screen)
        return 0;
    if (mode == 1)
        return screen->Connection().Root();
    if (mode == 3)
        return PickCaptureRegion(*screen);
    if (mode != 2 || pickLoop_)
        return 0;

    // A compositing manager may have started or ended: the highlight differs then.
    screen->DetectPath();
    RecorderState_ = rsPicking;
    PickedWindow = 0;
    pickDone_ = false;
    RepaintWholeScreen();
    if (!SetMouseFilterHook(1, static_cast<uint32_t>(winId()), HM_MOVE, HM_PRESS, HM_MENU)) {
        RecorderState_ = rsIdle;
        return 0;
    }
    QEventLoop loop;
    pickLoop_ = &loop;
    if (!pickDone_)
        loop.exec();
    pickLoop_ = nullptr;
    SetMouseFilterHook(0, 0, 0, 0, 0);
    // Whatever is still highlighted goes away with the repaint. A window that vanished
    // during the pick is forgotten as well: its frame (a frame window over it, or the
    // remembered XOR rectangle) would otherwise be undone later, at exit or when the
    // drawing path changes, and leave a stray frame on the screen.
    if (highlighted_ != 0 && screen->Highlight().IsShown(highlighted_))
        screen->ToggleWindowHighlight(highlighted_);
    highlighted_ = 0;
    RepaintWholeScreen();
    RecorderState_ = rsIdle;
    return PickedWindow;
}

// A free rectangle: the root window is recorded, limited to the rectangle chosen.
uint32_t TfrmMain::PickCaptureRegion(annotate::ScreenDrawing& screen) {
    if (pickLoop_)
        return 0;
    RecorderState_ = rsPicking;
    CaptureRegion chosen;
    const bool confirmed = RegionSelector::Select(windowValues_.Region, &chosen);
    RecorderState_ = rsIdle;
    if (!confirmed)
        return 0;
    windowValues_.Region = chosen;  // offered again at the next start, and saved at exit
    captureRegion_ = chosen;
    return screen.Connection().Root();
}

void TfrmMain::OnPickMessage(const PostedMessage& message) {
    annotate::ScreenDrawing* screen = DrawingScreen();
    if (!screen || pickDone_)
        return;
    const uint32_t window = uint32_t(message.wParam);
    const auto finish = [this](uint32_t picked) {
        PickedWindow = picked;
        pickDone_ = true;
        if (pickLoop_)
            pickLoop_->quit();
    };
    switch (message.message) {
    case HM_MOVE:
        if (window == highlighted_)
            break;
        if (highlighted_ != 0)
            screen->ToggleWindowHighlight(highlighted_);
        highlighted_ = 0;
        if (WindowExists(*screen, window) && screen->ToggleWindowHighlight(window))
            highlighted_ = window;
        break;
    case HM_PRESS:
        // Confirms the window under the pointer, if it is still there; a press on the
        // bare desktop (or a window gone meanwhile) ends the pick with none.
        finish(WindowExists(*screen, window) ? window : 0);
        break;
    case HM_MENU:
        finish(0);
        break;
    default:
        break;
    }
}
