// What a Compressor holds: the encoder it stands for, the session opened (and tried
// with one frame) for the last queried input format, kept so that the size and format
// queries do not each open the encoder again, and the session compressing between
// Begin and End.
#pragma once

#include <memory>
#include <string>

#include "platform/codec/CodecManager.h"
#include "platform/codec/CodecRegistry.h"
#include "platform/codec/CodecSession.h"

namespace platform {

struct Compressor::Impl {
    explicit Impl(const CodecEntry& e) : entry(&e), info(e.info) {}

    // The session for that input, opened on first use; null on failure (error set).
    CodecSession* QuerySession(const BitmapInfoHeader& input);
    bool Fail(std::string text);

    const CodecEntry* entry;
    CodecInfo info;
    std::unique_ptr<CodecSession> query;
    std::unique_ptr<CodecSession> active;
    std::string error;
};

}  // namespace platform
