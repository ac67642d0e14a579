// The list of compressors: every libavcodec video encoder that has an AVI code and can
// really compress here, one frame in and one packet out at once. An encoder is tried
// once per process, when it is first asked for, by opening it at a small size and
// compressing a few frames; encoders that fail (hardware encoders without their
// device, encoders that delay frames) are left out. Looking an encoder up by name or
// by code tries only the encoders of that name or code; only the whole list tries
// them all. The list is one entry per encoder: several encoders may
// write the same code (libx264 and libx264rgb, mpeg4 and libxvid), and each of them
// can be chosen by its own description.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/codec/CodecManager.h"

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
    // The admitted encoders, in libavcodec's order: every encoder is tried. Thread-safe;
    // built on first use. Entries stay where they are for the whole process.
    static const std::vector<const CodecEntry*>& Entries();
    // The admitted encoder with that code: the first that takes any size, else the
    // first one.
    static const CodecEntry* Find(uint32_t fccType, uint32_t fccHandler);
    // The admitted encoder of that libavcodec name.
    static const CodecEntry* FindEncoder(const std::string& encoderName);
    // Calls visit, in the order of Entries, with each admitted encoder whose info
    // `wanted` accepts, until visit returns true; that entry is returned (null when
    // none). Only encoders whose info is accepted are tried: the info (type, table
    // code, description, name) is known without opening anything.
    static const CodecEntry* FindFirst(const std::function<bool(const CodecInfo&)>& wanted,
                                       const std::function<bool(const CodecEntry&)>& visit);
};

}  // namespace platform
