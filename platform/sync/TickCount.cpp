#include "platform/sync/TickCount.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>

namespace platform {

namespace {

uint32_t TickOffset()
{
    static const uint32_t offset = [] {
        const char* text = std::getenv("TAVREC_TICK_OFFSET_MS");
        return text ? static_cast<uint32_t>(std::strtoull(text, nullptr, 0)) : 0u;
    }();
    return offset;
}

}  // namespace

uint32_t GetTickCount()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms) + TickOffset();  // wraps at 2^32 like the original counter
}

void SleepMs(uint32_t ms)
{
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

}  // namespace platform
