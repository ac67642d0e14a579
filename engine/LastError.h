// The library-wide last-error text and the error report to the program.
#pragma once

#include <cstdint>

#include "engine/korvid.h"

namespace korvid {

inline constexpr int32_t kLastErrorCapacity = 256;

// Stores the text as the last error (last writer wins) and, when window is not 0,
// posts CaptureErrorMessage to it.
void ReportCaptureError(KorvidWindow window, const char* text);

// How many texts have been stored since the library was loaded: a set-up that
// failed tells by it whether one of its threads gave a reason.
uint64_t CaptureErrorCount();

// Reports a failed event wait: the text, then the reason the wait gave.
void ReportWaitFailure(KorvidWindow window, const char* text);

}  // namespace korvid
