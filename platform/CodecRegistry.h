// The list of compressors: every libavcodec video encoder that has an AVI code and can
// really compress here, one frame in and one packet out at once. Built once per
// process by opening each encoder at a small size and compressing a few frames;
// encoders that fail (hardware encoders without their device, encoders that delay
// frames) are left out. Where several encoders share a code, the first admitted one
// in libavcodec's order is kept, except that one taking any picture size wins over one
// that only takes a few fixed sizes.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/CodecManager.h"

struct AVCodec;

namespace platform {

struct CodecEntry {
    CodecInfo info;
    const AVCodec* codec = nullptr;
    // Whether the encoder opened at the general probe size (it takes most sizes),
    // rather than only at one of the fixed picture sizes tried after it.
    bool anySize = false;
    // A frame size the encoder was seen to compress.
    int probeWidth = 0;
    int probeHeight = 0;
};

class CodecRegistry {
public:
    // The admitted encoders, in libavcodec's order. Thread-safe; built on first use.
    static const std::vector<CodecEntry>& Entries();
    static const CodecEntry* Find(uint32_t fccType, uint32_t fccHandler);
};

}  // namespace platform
