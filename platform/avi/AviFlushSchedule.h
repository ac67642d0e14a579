// Internal to the AVI writer: when headers and indexes are next brought up to date.
// A flush is due after any write that moves a stream Options::flushIntervalMs of its
// own timeline (positions times dwScale / dwRate) past where it stood at the last
// flush; the clock plays no part, so a paused recording costs nothing.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/avi/AviStreamImpl.h"

namespace platform {

class AviFlushSchedule {
public:
    explicit AviFlushSchedule(uint32_t intervalMs = 0) : intervalMs_(intervalMs) {}

    // The header is laid out: every stream starts at length 0.
    void Start(size_t streams) { flushed_.assign(streams, 0); }
    bool Due(const AviStreamImpls& streams) const;
    // Headers and indexes now describe every stream as it stands.
    void Done(const AviStreamImpls& streams);

private:
    uint32_t intervalMs_;
    std::vector<uint64_t> flushed_;  // each stream's length at the last flush
};

}  // namespace platform
