// The library-wide last-error text and the error report to the program.
#pragma once

#include "engine/korvid.h"

namespace korvid {

inline constexpr int32_t kLastErrorCapacity = 256;

// Stores the text as the last error (last writer wins) and, when window is not 0,
// posts CaptureErrorMessage to it.
void ReportCaptureError(KorvidWindow window, const char* text);

// Reports a failed event wait: the text, then the reason the wait gave.
void ReportWaitFailure(KorvidWindow window, const char* text);

}  // namespace korvid
