// TfrmMain: AppMessage, through which every posted message and every shortcut press
// passes before Qt dispatches it.
#include "app/Tavrecmain.h"

#include "engine/korvid.h"

namespace {

constexpr uint32_t WM_APP = 0x8000;
constexpr uint32_t WM_HOTKEY = 0x0312;
// The hook component's messages, HM_MOVE to HM_EXTRA.
constexpr uint32_t kFirstHookMessage = WM_APP + 1;
constexpr uint32_t kLastHookMessage = WM_APP + 6;

}  // namespace

bool TfrmMain::AppMessage(uint32_t message, int32_t wParam, int32_t lParam) {
    if (message == WM_HOTKEY) {
        HotkeyMessage(wParam);
        return true;
    }
    if (message == CaptureErrorMessage) {
        CaptureErrorReceived();
        return false;  // not marked handled
    }
    if (message >= kFirstHookMessage && message <= kLastHookMessage) {
        HookMessage(message, wParam, lParam);
        return true;
    }
    return false;
}

bool TfrmMain::KeyPress(uint8_t, uint16_t) {
    // The global shortcuts' key presses become HotkeyMessage calls once the
    // shortcuts are grabbed; every other key goes on to Qt.
    return false;
}

void TfrmMain::HotkeyMessage(int32_t hotkeyId) {
    // Before the window has been shown a shortcut does nothing (the program is still
    // starting, or it is the second instance on its way out).
    if (!shownOnce_) return;
    if (hotkeyId < 0 || hotkeyId >= kHotkeyCount) return;
    if (QToolButton* target = Settings_.Hotkeys[hotkeyId].Target) ToolButtonClick(target);
    // Entries without a target (draw mode, clear, redraw) are the drawing tools'.
}

// Filled in with the recording control: note the pending error, then the stop
// button's click.
void TfrmMain::CaptureErrorReceived() {}

// Filled in with the capture-area pick and the drawing tools.
void TfrmMain::HookMessage(uint32_t, int32_t, int32_t) {}
