// The answers of the compressors to "can you compress this screen format", kept for
// the life of the process: asking means opening the encoder and compressing a test
// frame, which for all encoders together takes seconds at full-HD sizes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <tuple>

#include "platform/codec/CodecManager.h"
#include "platform/WinTypes.h"

namespace settings {

class CodecAdmissionCache {
public:
    CodecAdmissionCache() = default;
    CodecAdmissionCache(const CodecAdmissionCache&) = delete;
    CodecAdmissionCache& operator=(const CodecAdmissionCache&) = delete;

    // Whether the compressor the info stands for is a video compressor that can
    // compress frames of that format. Answered from the cache when this encoder was
    // asked about the same width, height and depth before; otherwise the compressor
    // is opened and asked, and the answer kept. A compressor that cannot be opened
    // is refused (and that answer kept as well). Safe to call from several threads;
    // the lock is not held while a compressor is asked.
    bool Admits(const platform::CodecInfo& info, const BitmapInfoHeader& format);

    // How many times a compressor was really asked (cache misses), and how many
    // answers are kept.
    size_t QueryCount() const;
    size_t Size() const;

private:
    // Encoder identity (libavcodec name, else the handler code), then the format:
    // compression (BI_RGB for the screen), width, height, depth.
    using Key = std::tuple<std::string, uint32_t, int32_t, int32_t, uint16_t>;

    mutable std::mutex mutex_;
    std::map<Key, bool> answers_;
    size_t queries_ = 0;
};

}  // namespace settings
