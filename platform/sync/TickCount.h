// A 32-bit millisecond tick count from CLOCK_MONOTONIC that wraps at 2^32.
// TAVREC_TICK_OFFSET_MS (read once) is added before the wrap, so that tests can
// run a recording across the wrap.
#pragma once

#include <cstdint>

namespace platform {

uint32_t GetTickCount();
void SleepMs(uint32_t ms);

}  // namespace platform
