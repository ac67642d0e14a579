// One sound source of a recording: a capture device with its looping capture
// buffer, its sixteen notification events and the offset up to which its sound has
// been copied out. The audio thread records one or two of them.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/korvid.h"
#include "platform/audio/AudioCapture.h"
#include "platform/sync/NamedEvent.h"

namespace korvid {

class AudioSource {
public:
    static constexpr size_t kNotifications = 16;

    // description: the device's description as the options name it; named: whether
    // failure texts carry it (when two sources are recorded, to tell them apart).
    AudioSource(const CaptureOptions* options, std::string description, bool named);
    ~AudioSource();
    AudioSource(const AudioSource&) = delete;
    AudioSource& operator=(const AudioSource&) = delete;

    // Opens the device with that id (empty: the default device) and creates its
    // capture buffer of bufferSize bytes in the format, one notification per second.
    // Reports its own failures; false then.
    bool SetUp(const std::string& id, const WaveFormatEx& format, uint32_t bufferSize);

    // At an instant of the capture clock, the same for every source of the recording.
    bool Start(uint64_t instantUs);
    bool EndRunAt(uint64_t instantUs);
    bool Stop();
    bool Capturing() const { return capturing_; }

    // Whole blocks captured and not copied out yet. captured: up to the end of what
    // was captured, also once the device has failed (no failure is reported then).
    bool Available(uint32_t* bytes, bool captured = false);
    // Copies length bytes (at most Available) from the last read offset to target and
    // advances the offset. report: a refused lock is reported as a failure.
    bool CopyOut(uint8_t* target, uint32_t length, bool report = true);

    // Reports a failure of this device (with the device's reason after the text and,
    // when named, the source's description) to the notify window; returns false.
    // keep runs first, so that the sound captured before the failure reaches the file
    // and the device's text is the one that stays.
    bool Failed(const char* text);
    void OnFailure(std::function<void()> keep) { keep_ = std::move(keep); }

    platform::NamedEvent* Notification(size_t i) const { return notifications_[i].get(); }

private:
    const CaptureOptions* options_;
    std::string description_;
    bool named_;
    std::array<std::unique_ptr<platform::NamedEvent>, kNotifications> notifications_;
    std::unique_ptr<platform::CaptureDevice> device_;
    uint32_t bufferSize_ = 0;
    uint32_t blockAlign_ = 1;
    uint32_t lastReadOffset_ = 0;
    bool capturing_ = false;
    std::function<void()> keep_;
};

}  // namespace korvid
