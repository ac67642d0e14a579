#include "engine/AudioMix.h"

#include <algorithm>
#include <cstring>

namespace korvid {

namespace {

// Signed little-endian samples of Bytes bytes, summed in 64 bits and clipped.
template <int Bytes>
void MixSigned(uint8_t* into, const uint8_t* from, size_t bytes)
{
    constexpr int64_t kMax = (int64_t{1} << (8 * Bytes - 1)) - 1;
    constexpr int64_t kMin = -kMax - 1;
    for (size_t i = 0; i + Bytes <= bytes; i += Bytes) {
        int64_t a = 0, b = 0;
        for (int k = 0; k < Bytes; ++k) {
            a |= int64_t{into[i + k]} << (8 * k);
            b |= int64_t{from[i + k]} << (8 * k);
        }
        // Sign-extend from the sample's width.
        constexpr int kShift = 64 - 8 * Bytes;
        a = static_cast<int64_t>(static_cast<uint64_t>(a) << kShift) >> kShift;
        b = static_cast<int64_t>(static_cast<uint64_t>(b) << kShift) >> kShift;
        const int64_t sum = std::clamp(a + b, kMin, kMax);
        for (int k = 0; k < Bytes; ++k)
            into[i + k] = static_cast<uint8_t>(static_cast<uint64_t>(sum) >> (8 * k));
    }
}

void MixSigned16(uint8_t* into, const uint8_t* from, size_t bytes)
{
    for (size_t i = 0; i + 2 <= bytes; i += 2) {
        int16_t a, b;
        std::memcpy(&a, into + i, 2);
        std::memcpy(&b, from + i, 2);
        const auto sum = static_cast<int16_t>(std::clamp(int32_t{a} + int32_t{b}, -32768, 32767));
        std::memcpy(into + i, &sum, 2);
    }
}

}  // namespace

void MixInto(uint8_t* into, const uint8_t* from, size_t bytes, uint16_t bitsPerSample)
{
    switch (bitsPerSample) {
    case 8:
        for (size_t i = 0; i < bytes; ++i)
            into[i] = static_cast<uint8_t>(std::clamp(int{into[i]} + int{from[i]} - 128, 0, 255));
        break;
    case 16:
        MixSigned16(into, from, bytes);  // the common case, kept simple for the compiler
        break;
    case 24:
        MixSigned<3>(into, from, bytes);
        break;
    case 32:
        MixSigned<4>(into, from, bytes);
        break;
    default:
        break;
    }
}

}  // namespace korvid
