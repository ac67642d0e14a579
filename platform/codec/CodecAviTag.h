// AVI four-character codes of libavcodec encoders, from libavformat's RIFF video tag
// table (the table AVI readers use to find a decoder).
#pragma once

#include <cstdint>

extern "C" {
#include <libavcodec/codec_id.h>
}

struct AVCodecContext;

namespace platform {

// The first code the table gives for the codec, 0 when it has none.
uint32_t AviTableTag(AVCodecID id);
// Whether an AVI reader finds a decoder for a stream with this code.
bool AviTagIsReadable(uint32_t tag);
// The code a stream of this opened encoder must carry: the one the encoder chose for
// its pixel format (codec_tag after opening, e.g. ULRG or ULY0 for Ut Video) when it
// set one, else the table's code for the codec. 0 when no reader would find a
// decoder by the result.
uint32_t AviStreamTag(const AVCodecContext* context);

}  // namespace platform
