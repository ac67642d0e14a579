// Mixing of two PCM sound sources of the same format into one: sample by sample
// sum, clipped at the format's limits rather than wrapped.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korvid {

// The byte that fills silence in this format: 8-bit samples are unsigned (128 is
// the middle), wider ones signed.
inline uint8_t SilenceByte(uint16_t bitsPerSample)
{
    return bitsPerSample == 8 ? 0x80 : 0x00;
}

// into[i] := into[i] + from[i] for every sample in bytes (little-endian PCM of 8, 16,
// 24 or 32 bits), clipped to the sample's range. bytes is a whole number of samples.
void MixInto(uint8_t* into, const uint8_t* from, size_t bytes, uint16_t bitsPerSample);

}  // namespace korvid
