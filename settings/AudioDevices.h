// The audio capture devices offered in the preferences, each with the PCM formats it
// can record, and the text by which a format is shown and stored.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/audio/AudioCapture.h"
#include "platform/audio/AudioDescription.h"
#include "platform/WinTypes.h"

namespace settings {

// Longest description kept (bytes; a stored device name has room for 63 and a zero).
inline constexpr size_t kAudioDescriptionMax = platform::kAudioDescriptionMax;

struct AudioDeviceEntry {
    std::string Description;             // at most kAudioDescriptionMax bytes
    std::vector<WaveFormatEx> Formats;   // in the order of the capability bits' table
    bool Primary = false;                // the server's default source (no device of its own)
};
using AudioDeviceList = std::vector<AudioDeviceEntry>;

// What a capture device reports about itself.
inline constexpr uint32_t kCapsMultipleCapture = 0x01;  // several captures may run at once
inline constexpr uint32_t kCapsEmulatedOnly = 0x20;     // served only through emulation
struct AudioDeviceCaps {
    uint32_t dwFlags = 0;
    uint32_t dwFormats = 0;  // the twelve format bits, 0x001 (11025 Hz mono 8-bit) to 0x800
};

// Where capture devices and their capabilities come from.
class AudioDeviceSource {
public:
    virtual ~AudioDeviceSource() = default;
    // The devices in enumeration order; false when they cannot be listed.
    virtual bool List(std::vector<platform::AudioDevice>* devices) = 0;
    // Opens the device and reads its capabilities; false when it cannot be opened.
    virtual bool GetCaps(const platform::AudioDevice& device, AudioDeviceCaps* caps) = 0;
};

// The sound server's sources through platform::AudioCapture.
class PulseAudioDeviceSource final : public AudioDeviceSource {
public:
    bool List(std::vector<platform::AudioDevice>* devices) override;
    bool GetCaps(const platform::AudioDevice& device, AudioDeviceCaps* caps) override;
};

// Admits every device that opens and does not report emulation only (dwFlags exactly
// kCapsEmulatedOnly), in the source's order, with one format per capability bit.
AudioDeviceList EnumerateAudioDevices(AudioDeviceSource& source);
// The same over the sound server.
AudioDeviceList EnumerateAudioDevices();

// A PCM format record: nBlockAlign and nAvgBytesPerSec follow from the three values.
WaveFormatEx PcmFormat(uint32_t samplesPerSec, uint16_t channels, uint16_t bitsPerSample);
// Format code 0..15: rate 8000, 11025, 22050, 44100 Hz by code / 4; code % 4 selects
// mono 8-bit, mono 16-bit, stereo 8-bit, stereo 16-bit.
WaveFormatEx FormatFromCode(int code);
// The formats a dwFormats mask offers, in the table's order.
std::vector<WaveFormatEx> FormatsOfMask(uint32_t dwFormats);

// "11.025-kHz, mono, 8-bit " and the like (the trailing blank belongs to it); the
// empty text for an all-zero format.
std::string FormatText(const WaveFormatEx& format);

}  // namespace settings
