// Lowering the display's hardware acceleration for the time of a recording.
#pragma once

#include <cstdint>

struct RecorderSettings;

// Called with 5 at the start of a recording and with 0 at its stop. Does nothing
// unless DisableHWAcce is set; X11 has no driver acceleration level to change, so even
// then only the call order remains.
void SetAccelerationLevel(const RecorderSettings& settings, int32_t level);
