// Numbers of the messages that reach the main window as TAVREC_MESSAGE
// ClientMessages (data.l[0] = message, l[1] = wParam, l[2] = lParam).
#pragma once

#include <cstdint>

#include "engine/korvid.h"

namespace msg {

inline constexpr uint32_t WM_HOTKEY = 0x0312;  // wParam: the hotkey's index 0 to 5
inline constexpr uint32_t WM_APP = 0x8000;

// Messages of the hook component.
inline constexpr uint32_t HM_MOVE = WM_APP + 1;
inline constexpr uint32_t HM_PRESS = WM_APP + 2;
inline constexpr uint32_t HM_RELEASE = WM_APP + 3;
inline constexpr uint32_t HM_MENU = WM_APP + 4;
inline constexpr uint32_t HM_RELEASE_ACK = WM_APP + 5;
inline constexpr uint32_t HM_EXTRA = WM_APP + 6;

// Posted by the capture library after it stored an error text.
inline constexpr uint32_t CAPTURE_ERROR = CaptureErrorMessage;
static_assert(CAPTURE_ERROR == WM_APP + 100);

}  // namespace msg

struct PostedMessage {
    uint32_t message = 0;
    int32_t wParam = 0;
    int32_t lParam = 0;
};
