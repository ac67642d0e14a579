#include "settings/AudioDevices.h"

#include <memory>

namespace settings {

namespace {

// Capability bit of each offered format, in the order the formats are listed; the
// format code of entry i is i + 4 (the 8000 Hz codes 0..3 are never offered).
constexpr uint32_t kFormatBits[12] = {
    0x001, 0x004, 0x002, 0x008,  // 11025 Hz: mono 8, mono 16, stereo 8, stereo 16
    0x010, 0x040, 0x020, 0x080,  // 22050 Hz
    0x100, 0x400, 0x200, 0x800,  // 44100 Hz
};

// Adds a piece in front of the text's last character (at the end of an empty text).
void InsertPiece(std::string* text, const char* piece) {
    if (text->empty())
        *text = piece;
    else
        text->insert(text->size() - 1, piece);
}

}  // namespace

bool PulseAudioDeviceSource::List(std::vector<platform::AudioDevice>* devices) {
    return platform::AudioCapture::EnumerateDevices(devices);
}

bool PulseAudioDeviceSource::GetCaps(const platform::AudioDevice& device, AudioDeviceCaps* caps) {
    std::unique_ptr<platform::CaptureDevice> capture = platform::AudioCapture::Open(device.id);
    if (!capture) return false;
    uint32_t formats = 0;
    if (!capture->GetFormats(&formats)) return false;
    // A source is a real device that any number of streams may record at once.
    caps->dwFlags = kCapsMultipleCapture;
    caps->dwFormats = formats;
    return true;
}

AudioDeviceList EnumerateAudioDevices(AudioDeviceSource& source) {
    AudioDeviceList list;
    std::vector<platform::AudioDevice> devices;
    if (!source.List(&devices)) return list;
    for (const platform::AudioDevice& device : devices) {
        AudioDeviceCaps caps;
        if (!source.GetCaps(device, &caps)) continue;
        if (caps.dwFlags == kCapsEmulatedOnly) continue;
        list.push_back({std::string(platform::StoredAudioDescription(device.description)), FormatsOfMask(caps.dwFormats),
                        device.id.empty()});
    }
    return list;
}

AudioDeviceList EnumerateAudioDevices() {
    PulseAudioDeviceSource source;
    return EnumerateAudioDevices(source);
}

WaveFormatEx PcmFormat(uint32_t samplesPerSec, uint16_t channels, uint16_t bitsPerSample) {
    WaveFormatEx format{};
    format.wFormatTag = 1;
    format.nChannels = channels;
    format.nSamplesPerSec = samplesPerSec;
    format.wBitsPerSample = bitsPerSample;
    format.nBlockAlign = static_cast<uint16_t>(channels * bitsPerSample / 8);
    format.nAvgBytesPerSec = format.nBlockAlign * samplesPerSec;
    format.cbSize = 0;
    return format;
}

WaveFormatEx FormatFromCode(int code) {
    static constexpr uint32_t kRates[4] = {8000, 11025, 22050, 44100};
    const int kind = code & 3;
    return PcmFormat(kRates[(code >> 2) & 3], kind < 2 ? 1 : 2, (kind & 1) ? 16 : 8);
}

std::vector<WaveFormatEx> FormatsOfMask(uint32_t dwFormats) {
    std::vector<WaveFormatEx> formats;
    for (int i = 0; i < 12; ++i)
        if (dwFormats & kFormatBits[i]) formats.push_back(FormatFromCode(i + 4));
    return formats;
}

std::string FormatText(const WaveFormatEx& format) {
    std::string text;
    switch (format.nSamplesPerSec) {
    case 8000: text = "8-kHz, "; break;
    case 11025: text = "11.025-kHz, "; break;
    case 22050: text = "22.05-kHz, "; break;
    case 44100: text = "44.1-kHz, "; break;
    default: break;
    }
    if (format.nChannels == 1) InsertPiece(&text, " mono, ");
    else if (format.nChannels == 2) InsertPiece(&text, " stereo, ");
    if (format.wBitsPerSample == 8) InsertPiece(&text, "8-bit");
    else if (format.wBitsPerSample == 16) InsertPiece(&text, "16-bit");
    return text;
}

}  // namespace settings
