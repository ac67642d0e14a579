// Reads one compressed frame back the way an AVI player does: the decoder found by
// the stream's four-character code, given the code, the bit count and the extra data
// of the stream format. Some encoders accept sizes their own decoder then rejects
// (SpeedHQ at widths that are not a multiple of 8): such a size is refused.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

struct CodecStreamFormat {
    uint32_t handler = 0;
    int width = 0;
    int height = 0;
    uint16_t bitCount = 0;
    const uint8_t* extraData = nullptr;
    uint32_t extraDataSize = 0;
};

// True when the packet decodes to a picture of the format's size, or when this
// libavcodec has no decoder for the code (nothing to check against). False with
// *error set otherwise.
bool DecodesAsStream(const CodecStreamFormat& format, const uint8_t* packet, uint32_t size, std::string* error);

}  // namespace platform
