// Pixel formats between the capture's uncompressed frames and an encoder.
#pragma once

#include <string>
#include <vector>

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

// The pixel formats to open the encoder in, best first. A lossy encoder that takes
// 8-bit 4:2:0 gets that first (yuv420p, or yuvj420p where the encoder lists it first,
// as MJPEG does): the one profile every player and hardware decoder reads, and the
// encoder throws detail away anyway. Then, and for every encoder made for lossless
// or RGB work, the format that loses least, which also takes sizes 4:2:0 cannot
// (H.264's odd widths and heights). Empty when the encoder takes nothing reachable.
std::vector<AVPixelFormat> EncoderPixelFormats(const AVCodec* codec, AVPixelFormat input);

}  // namespace platform
