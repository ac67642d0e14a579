#include "engine/AudioSource.h"

#include <algorithm>
#include <cstring>

#include "engine/AudioThread.h"
#include "engine/LastError.h"

namespace korvid {

namespace {

constexpr const char* kNoDirectSoundText =
    "Your record device does not support directsound.\n"
    "Please select another record device.\n"
    "Please use [Preference]->[Video/Audio]->[Audio Setting] to select another device.";

}  // namespace

AudioSource::AudioSource(const CaptureOptions* options, std::string description, bool named)
    : options_(options), description_(std::move(description)), named_(named) {}

AudioSource::~AudioSource()
{
    device_.reset();  // before the events it sets
}

bool AudioSource::SetUp(const std::string& id, const WaveFormatEx& format, uint32_t bufferSize)
{
    for (auto& event : notifications_) {
        event = platform::NamedEvent::CreateUnnamed(false);
        if (!event)
            return Failed("Failed to create the sound capture notifications");
    }
    device_ = CurrentAudioDeviceSource().Open(id);
    if (!device_)
        return Failed("Failed to open the sound capture device");
    uint32_t formats = 0;
    if (!device_->GetFormats(&formats))
        return Failed("Failed to read the sound capture formats");
    if (formats == 0) {
        ReportCaptureError(options_->NotifyWindow, kNoDirectSoundText);
        return false;
    }
    bufferSize_ = bufferSize;
    blockAlign_ = format.nBlockAlign;
    if (!device_->CreateBuffer(format, bufferSize_))
        return Failed("Failed to create the sound capture buffer");
    std::array<uint32_t, kNotifications> offsets;
    std::array<platform::NamedEvent*, kNotifications> events;
    for (size_t i = 0; i < kNotifications; ++i) {
        offsets[i] = static_cast<uint32_t>(i) * format.nAvgBytesPerSec;
        events[i] = notifications_[i].get();
    }
    device_->SetNotificationPositions(offsets.data(), events.data(), kNotifications);
    return true;
}

bool AudioSource::Failed(const char* text)
{
    std::string message(text);
    if (named_)
        message += " (" + description_ + ")";
    const std::string reason = device_ ? device_->LastError() : std::string();
    if (!reason.empty())
        message += ": " + reason;
    if (keep_)
        keep_();
    ReportCaptureError(options_->NotifyWindow, message.c_str());
    return false;
}

bool AudioSource::Start(uint64_t instantUs)
{
    if (capturing_)
        return true;
    if (!device_->StartAt(instantUs))
        return Failed("Failed to start the sound capture");
    capturing_ = true;
    return true;
}

bool AudioSource::EndRunAt(uint64_t instantUs)
{
    if (!device_->EndRunAt(instantUs))
        return Failed("Failed to stop the sound capture");
    return true;
}

bool AudioSource::Stop()
{
    if (!device_->Stop())
        return Failed("Failed to stop the sound capture");
    capturing_ = false;
    return true;
}

// A source that went away (unplugged, the sound server ended) shows here first.
bool AudioSource::Available(uint32_t* bytes, bool captured)
{
    *bytes = 0;
    uint32_t position = 0;
    if (captured) {
        if (!device_ || bufferSize_ == 0 || !device_->GetCapturedPosition(&position))
            return false;
    } else if (!device_->GetReadPosition(&position)) {
        return Failed("Failed to read the sound capture position");
    }
    int64_t available = static_cast<int64_t>(position) - lastReadOffset_;
    if (available < 0)
        available += bufferSize_;
    available -= available % blockAlign_;
    *bytes = static_cast<uint32_t>(std::max<int64_t>(available, 0));
    return true;
}

bool AudioSource::CopyOut(uint8_t* target, uint32_t length, bool report)
{
    if (length == 0)
        return true;
    void* region1 = nullptr;
    void* region2 = nullptr;
    uint32_t length1 = 0, length2 = 0;
    if (!device_->Lock(lastReadOffset_, length, &region1, &length1, &region2, &length2))
        return report && Failed("Failed to lock the sound capture buffer");
    std::memcpy(target, region1, length1);
    if (region2 && length2)
        std::memcpy(target + length1, region2, length2);
    lastReadOffset_ = (lastReadOffset_ + length1 + length2) % bufferSize_;
    if (!device_->Unlock(region1, length1, region2, length2))
        return report && Failed("Failed to unlock the sound capture buffer");
    return true;
}

}  // namespace korvid
