// Pixel formats between the capture's uncompressed frames and an encoder.
#pragma once

#include <string>

extern "C" {
#include <libavutil/pixfmt.h>
}

#include "platform/WinTypes.h"

struct AVCodec;

namespace platform {

// The libav pixel format of an uncompressed frame format: BI_RGB at 32 bits (B, G, R,
// unused byte), 24 bits (B, G, R) or 16 bits (RGB555). 8-bit frames need their colour
// table, which a BITMAPINFOHEADER does not carry: refused like every other layout.
// AV_PIX_FMT_NONE with *error set when the format is not one of these.
AVPixelFormat InputPixelFormat(const BitmapInfoHeader& input, std::string* error);

// The encoder's pixel format that loses least from `input` among those libswscale
// can convert to (hardware surface formats left out). AV_PIX_FMT_NONE when none.
AVPixelFormat EncoderPixelFormat(const AVCodec* codec, AVPixelFormat input);

}  // namespace platform
