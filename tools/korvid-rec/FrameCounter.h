// Counts the frames the capture library's video thread builds, and the frame slots
// it skipped between two frames while the recording was not paused: dropped frames,
// and in Speedup Mode also the slots left empty because nothing changed.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "engine/korvid.h"

namespace tools {

struct FrameCounter {
    uint32_t fps = 15;
    bool speedup = false;
    std::atomic<uint64_t> stored{0};
    std::atomic<uint64_t> dropped{0};
    std::atomic<uint32_t> pauseEpoch{0};  // bumped whenever the recording is seen paused
    // When the recording was asked for, and how long after that the first frame came.
    std::chrono::steady_clock::time_point started{};
    std::atomic<int64_t> firstFrameMs{-1};
    std::chrono::steady_clock::time_point last{};
    uint32_t lastEpoch = 0;

    // What the skipped slots are called in reports.
    const char* GapName() const { return speedup ? "empty positions" : "dropped"; }
    // The library's frame callback; object is the FrameCounter.
    static void OnFrame(void* object, FrameSurface*, int32_t, int32_t, bool*);
};

}  // namespace tools
