// The _MOTIF_WM_HINTS property of a top-level window, written on the application's
// X connection. Qt writes one from the window flags, but always with resizing
// allowed and a resize handle: window managers (openbox) then offer a maximise
// button even on a window of fixed size.
#pragma once

#include <cstdint>

class QWidget;

namespace motif {
inline constexpr uint32_t kFunctionMove = 1u << 2;
inline constexpr uint32_t kFunctionMinimize = 1u << 3;
inline constexpr uint32_t kFunctionClose = 1u << 5;
inline constexpr uint32_t kDecorationBorder = 1u << 1;
inline constexpr uint32_t kDecorationTitle = 1u << 3;
inline constexpr uint32_t kDecorationMenu = 1u << 4;
inline constexpr uint32_t kDecorationMinimize = 1u << 5;
}  // namespace motif

// Sets the hints of the widget's native window (created here if need be); does
// nothing off X11. Qt writes its own again when the window flags change.
void SetMotifWmHints(QWidget& window, uint32_t functions, uint32_t decorations);
