// The recording's threads. Each takes the CaptureContext and ends with 0 when it
// finished because of StopEvent, 1 in every other case.
#pragma once

#include <cstdint>

namespace korvid {

uint32_t ControlThreadMain(void* context);
uint32_t VideoThreadMain(void* context);
uint32_t AudioThreadMain(void* context);

}  // namespace korvid
