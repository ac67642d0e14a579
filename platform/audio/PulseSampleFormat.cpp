#include "platform/audio/PulseSampleFormat.h"

namespace platform {

namespace {

bool SampleFormatOf(uint16_t bits, pa_sample_format_t* format, uint8_t* silence) {
    *silence = 0;
    switch (bits) {
    case 8: *format = PA_SAMPLE_U8; *silence = 0x80; return true;
    case 16: *format = PA_SAMPLE_S16LE; return true;
    case 24: *format = PA_SAMPLE_S24LE; return true;
    case 32: *format = PA_SAMPLE_S32LE; return true;
    default: return false;
    }
}

bool Refuse(std::string* error, std::string text) {
    *error = std::move(text);
    return false;
}

}  // namespace

bool PulseSampleFormat::Of(const WaveFormatEx& format, uint32_t bufferBytes, PulseSampleFormat* out, std::string* error) {
    if (format.wFormatTag != 1) return Refuse(error, "The capture format is not PCM (format tag " + std::to_string(format.wFormatTag) + ")");
    pa_sample_spec sampleSpec{};
    uint8_t silence = 0;
    if (!SampleFormatOf(format.wBitsPerSample, &sampleSpec.format, &silence))
        return Refuse(error, "Unsupported sample size: " + std::to_string(format.wBitsPerSample) + " bits");
    if (format.nChannels < 1 || format.nChannels > PA_CHANNELS_MAX)
        return Refuse(error, "Unsupported channel count: " + std::to_string(format.nChannels));
    if (format.nSamplesPerSec < 1 || format.nSamplesPerSec > PA_RATE_MAX)
        return Refuse(error, "Unsupported sample rate: " + std::to_string(format.nSamplesPerSec) + " Hz");
    const uint32_t blockAlign = format.nChannels * format.wBitsPerSample / 8u;
    if (format.nBlockAlign != blockAlign || format.nAvgBytesPerSec != blockAlign * format.nSamplesPerSec)
        return Refuse(error, "Inconsistent capture format: nBlockAlign " + std::to_string(format.nBlockAlign) +
                                 ", nAvgBytesPerSec " + std::to_string(format.nAvgBytesPerSec) + " (expected " +
                                 std::to_string(blockAlign) + " and " + std::to_string(blockAlign * format.nSamplesPerSec) + ")");
    if (bufferBytes < blockAlign)
        return Refuse(error, "The capture buffer of " + std::to_string(bufferBytes) + " bytes holds no whole sample");
    sampleSpec.rate = format.nSamplesPerSec;
    sampleSpec.channels = static_cast<uint8_t>(format.nChannels);
    out->stream = sampleSpec;
    out->blockAlign = blockAlign;
    out->silence = silence;
    return true;
}

}  // namespace platform
