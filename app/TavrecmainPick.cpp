// Picking the window to record: the root window, or the one the user clicks on.
#include "app/Tavrecmain.h"

uint32_t TfrmMain::PickCaptureWindow(int32_t) { return 0; }
