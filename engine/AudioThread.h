// The audio capture thread's view of the capture devices, replaceable so that
// tests can drive the thread with a scripted device.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/audio/AudioCapture.h"

namespace korvid {

class AudioDeviceSource {
public:
    virtual ~AudioDeviceSource() = default;
    // Every capture device in enumeration order; an entry with an empty id is the
    // primary (default) device. False when the enumeration fails.
    virtual bool Enumerate(std::vector<platform::AudioDevice>* devices) = 0;
    // Opens the device with that id; an empty id opens the default device.
    virtual std::unique_ptr<platform::CaptureDevice> Open(const std::string& id) = 0;
};

// The source the audio thread uses: PulseAudio unless one was set (null restores it).
void SetAudioDeviceSource(AudioDeviceSource* source);
AudioDeviceSource& CurrentAudioDeviceSource();

// Finds the id of the device whose description equals name byte for byte, skipping
// the primary device; when several match the last one wins; no match leaves *id
// empty (the default device). True when the enumeration succeeded.
bool FindCaptureDevice(std::string_view name, std::string* id);

}  // namespace korvid
