// The record stream's sample format for a capture buffer's PCM format: checked
// against what PulseAudio can record and against itself (block size, byte rate).
#pragma once

#include <pulse/pulseaudio.h>

#include <cstdint>
#include <string>

#include "platform/WinTypes.h"

namespace platform {

struct PulseSampleFormat {
    // Bit mask of the PCM formats offered: all twelve, the server converts to any of them.
    static constexpr uint32_t kAllPcmFormats = 0xFFF;

    pa_sample_spec stream{};  // the record stream's sample type, rate and channels
    uint32_t blockAlign = 1;  // bytes of one sample frame (all channels)
    uint8_t silence = 0;      // the byte of silence (0x80 for unsigned 8-bit samples)

    // The format of a capture buffer of bufferBytes in that PCM format; false with the
    // reason in *error when it cannot be recorded.
    static bool Of(const WaveFormatEx& format, uint32_t bufferBytes, PulseSampleFormat* out, std::string* error);
};

}  // namespace platform
