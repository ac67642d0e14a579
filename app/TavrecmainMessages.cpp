// AppMessage: the messages posted to the program, seen before Qt dispatches them.
#include <QToolButton>

#include "app/Tavrecmain.h"

bool TfrmMain::AppMessage(const PostedMessage& message)
{
    switch (message.message) {
    case msg::CAPTURE_ERROR:
        OnCaptureError();
        return false;  // not marked handled
    case msg::WM_HOTKEY: {
        // Before the window was first shown (splash, second instance) a shortcut
        // would act on a program that is not there yet: dropped.
        if (!shownOnce_)
            return true;
        const int id = message.wParam;
        if (id >= 0 && id < kHotkeyCount) {
            if (QToolButton* target = settings_.Hotkeys[id].Target)
                ToolButtonClick(target);
            else
                DrawingHotkey(id);
        }
        return true;  // every shortcut message is consumed
    }
    case msg::HM_MOVE:
    case msg::HM_PRESS:
    case msg::HM_RELEASE:
    case msg::HM_MENU:
    case msg::HM_RELEASE_ACK:
    case msg::HM_EXTRA:
        OnHookMessage(message);
        return true;
    default:
        return false;
    }
}
