// Whether an AudioFormat can be recorded: it comes from the settings file as 18 raw
// bytes, and the capture buffer, the transfer buffer and the stream header are all
// sized from it.
#pragma once

#include "engine/korvid.h"

namespace korvid {

// Shown when the format is refused.
inline constexpr const char* kUnsupportedAudioFormatText =
    "Unsupported audio format: PCM with 1 to 8 channels of 8, 16, 24 or 32 bits at 1000 to 192000 "
    "samples per second is needed";

// True for PCM with 1 to 8 channels of 8, 16, 24 or 32 bits at 1000 to 192000 samples
// per second, whose block size and byte rate follow from those (at most about 6 MB a
// second, so sixteen seconds of it fit a 32-bit size).
bool IsRecordableAudioFormat(const WaveFormatEx& format);

}  // namespace korvid
