// Colours as the recorded frames hold them. A COLORREF is 0x00BBGGRR; its top byte
// carries no colour and is dropped. Frames of 32 bits per pixel hold B, G, R, 0
// bytes, 24 bits B, G, R, 16 bits RGB 5-5-5; frames of 8 bits hold colormap
// indices, which only the X server can give (ScreenColour).
#pragma once

#include <cstdint>

namespace annotate {

using ColorRef = uint32_t;

inline constexpr ColorRef kColorRefMask = 0x00FFFFFF;

// The frame value of a colour for 16, 24 or 32 bits per pixel; 0 for other depths.
uint32_t FramePixelOf(ColorRef color, int bitsPerPixel);

}  // namespace annotate
