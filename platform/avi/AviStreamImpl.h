// Internal to the AVI writer: what the file keeps of each stream (its description,
// format, chunk id, index, and where its header records lie in the file).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/avi/AviFile.h"
#include "platform/avi/AviIndex.h"

namespace platform {

struct AviStream::Impl {
    AviFile::Impl* file = nullptr;
    uint32_t number = 0;
    AviStreamInfo info{};
    std::string name;
    std::vector<uint8_t> format;
    bool released = false;
    uint32_t chunkId = 0;
    std::unique_ptr<AviIndex> index;  // made when the header is laid out
    uint32_t largestChunk = 0;
    uint64_t strhOffset = 0;          // data of its 'strh'
    uint64_t indxOffset = 0;          // header of its 'indx'

    bool IsVideo() const { return info.fccType == kStreamTypeVideo; }
    bool CountsSamples() const { return info.dwSampleSize != 0; }
    uint64_t Length() const { return index ? index->TotalDuration() : 0; }
    int64_t End() const { return int64_t(info.dwStart) + int64_t(Length()); }
    uint8_t SilenceByte() const
    {
        // 8-bit PCM is unsigned: its silence is 0x80.
        WaveFormatEx wave{};
        if (info.fccType != kStreamTypeAudio || format.size() < 16)
            return 0;
        std::memcpy(&wave, format.data(), std::min(format.size(), sizeof wave));
        return (wave.wFormatTag == 1 && wave.wBitsPerSample == 8) ? 0x80 : 0;
    }
};

// The file's streams, in stream-number order.
using AviStreamImpls = std::vector<std::unique_ptr<AviStream::Impl>>;

}  // namespace platform
