#include "tools/korvid-rec/FrameCounter.h"

namespace tools {

void FrameCounter::OnFrame(void* object, FrameSurface*, int32_t, int32_t, bool*)
{
    auto* self = static_cast<FrameCounter*>(object);
    const auto now = std::chrono::steady_clock::now();
    const uint32_t epoch = self->pauseEpoch.load();
    if (self->stored.load() == 0)
        self->firstFrameMs = std::chrono::duration_cast<std::chrono::milliseconds>(now - self->started).count();
    if (self->stored.load() > 0 && epoch == self->lastEpoch) {
        const double gapMs = std::chrono::duration<double, std::milli>(now - self->last).count();
        const auto slots = static_cast<long long>(gapMs * self->fps / 1000.0 + 0.5);
        if (slots > 1)
            self->dropped += static_cast<uint64_t>(slots - 1);
    }
    self->last = now;
    self->lastEpoch = epoch;
    ++self->stored;
}

}  // namespace tools
