// The six global shortcuts of the Hotkeys array, grabbed on the root window.
#include "app/Tavrecmain.h"

void TfrmMain::UnregisterHotkeys() {}

void TfrmMain::RegisterHotkeys() {}

int TfrmMain::HotkeyOfKeyPress(uint8_t, uint16_t) const
{
    return -1;  // no shortcut grabbed yet
}
