#include "engine/AudioFormatCheck.h"

namespace korvid {

bool IsRecordableAudioFormat(const WaveFormatEx& format)
{
    constexpr uint16_t kPcm = 1;
    if (format.wFormatTag != kPcm || format.nChannels < 1 || format.nChannels > 8)
        return false;
    const uint16_t bits = format.wBitsPerSample;
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return false;
    if (format.nSamplesPerSec < 1000 || format.nSamplesPerSec > 192000)
        return false;
    const uint32_t blockAlign = uint32_t{format.nChannels} * bits / 8;
    return format.nBlockAlign == blockAlign && format.nAvgBytesPerSec == blockAlign * format.nSamplesPerSec;
}

}  // namespace korvid
