// The audio capture thread: captures into a looping sixteen-second buffer with one
// notification per second and appends what was captured to the audio stream in
// chunks of about one second, following RunEvent for pause and resume.
#include "engine/AudioThread.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <string>

#include "engine/AudioFormatCheck.h"
#include "engine/CaptureThreads.h"
#include "engine/ContextAccess.h"
#include "engine/LastError.h"
#include "engine/OptionText.h"
#include "engine/StreamSetup.h"
#include "platform/audio/AudioDescription.h"

namespace korvid {

namespace {

constexpr size_t kNotifications = 16;
// How often the thread looks at RunEvent between notifications: a pause then ends
// the sound within this time of the picture, not up to a second later, so a paused
// recording neither gains nor loses sound against its picture.
constexpr uint32_t kRunPollMs = 10;
constexpr const char* kNoDirectSoundText =
    "Your record device does not support directsound.\n"
    "Please select another record device.\n"
    "Please use [Preference]->[Video/Audio]->[Audio Setting] to select another device.";

class PulseDeviceSource : public AudioDeviceSource {
public:
    bool Enumerate(std::vector<platform::AudioDevice>* devices) override
    {
        return platform::AudioCapture::EnumerateDevices(devices);
    }
    std::unique_ptr<platform::CaptureDevice> Open(const std::string& id) override
    {
        return platform::AudioCapture::Open(id);
    }
};

std::atomic<AudioDeviceSource*> g_source{nullptr};

// Everything the audio thread owns for one recording.
class AudioCapture {
public:
    explicit AudioCapture(CaptureContext* context)
        : context_(context), options_(context->Options), format_(options_->AudioFormat) {}

    ~AudioCapture()
    {
        device_.reset();
        if (stream_)
            stream_->Release();
    }

    bool SetUp();
    uint32_t Run();

private:
    // Report a failure with the device's or the file's own reason after the text, and
    // return false. The recording then ends and the program is told, as it is of a
    // failure of the picture.
    bool DeviceFailed(const char* text);
    void KeepWhatWasCaptured();
    bool WriteFailed();
    bool Drain();
    bool CopyOut(uint32_t readPosition, bool report);
    bool Write();
    bool StartCapture();
    bool StopAndFlush();

    CaptureContext* context_;
    const CaptureOptions* options_;
    const WaveFormatEx format_;
    platform::AviStream* stream_ = nullptr;
    std::array<std::unique_ptr<platform::NamedEvent>, kNotifications> notifications_;
    std::unique_ptr<platform::CaptureDevice> device_;
    uint32_t bufferSize_ = 0;
    std::vector<uint8_t> transfer_;
    uint32_t lastReadOffset_ = 0;
    uint32_t pending_ = 0;
    int64_t samplePosition_ = 0;  // in blocks; 2^31 of them pass within hours at high rates
    bool capturing_ = false;
};

bool AudioCapture::SetUp()
{
    // Everything below is sized from the format: it is checked first.
    if (!IsRecordableAudioFormat(format_)) {
        ReportCaptureError(options_->NotifyWindow, kUnsupportedAudioFormatText);
        return false;
    }
    if (!CreateAudioStream(options_, AviFileOf(context_), &stream_))
        return false;
    for (auto& event : notifications_) {
        event = platform::NamedEvent::CreateUnnamed(false);
        if (!event) {
            ReportCaptureError(options_->NotifyWindow, "Failed to create the sound capture notifications");
            return false;
        }
    }
    std::string id;
    if (!FindCaptureDevice(OptionText(options_->AudioDeviceName), &id)) {
        ReportCaptureError(options_->NotifyWindow, "Failed to list the sound capture devices");
        return false;
    }
    device_ = CurrentAudioDeviceSource().Open(id);
    if (!device_) {
        ReportCaptureError(options_->NotifyWindow, "Failed to open the sound capture device");
        return false;
    }
    uint32_t formats = 0;
    if (!device_->GetFormats(&formats))
        return DeviceFailed("Failed to read the sound capture formats");
    if (formats == 0) {
        ReportCaptureError(options_->NotifyWindow, kNoDirectSoundText);
        return false;
    }
    bufferSize_ = 16 * format_.nAvgBytesPerSec;
    transfer_.resize(bufferSize_);
    if (!device_->CreateBuffer(format_, bufferSize_))
        return DeviceFailed("Failed to create the sound capture buffer");
    std::array<uint32_t, kNotifications> offsets;
    std::array<platform::NamedEvent*, kNotifications> events;
    for (size_t i = 0; i < kNotifications; ++i) {
        offsets[i] = static_cast<uint32_t>(i) * format_.nAvgBytesPerSec;
        events[i] = notifications_[i].get();
    }
    device_->SetNotificationPositions(offsets.data(), events.data(), kNotifications);
    StoreState(context_, StateAudioReady);
    return true;
}

bool AudioCapture::DeviceFailed(const char* text)
{
    const std::string reason = device_ ? device_->LastError() : std::string();
    const std::string message = reason.empty() ? std::string(text) : std::string(text) + ": " + reason;
    KeepWhatWasCaptured();
    ReportCaptureError(options_->NotifyWindow, message.c_str());
    return false;
}

bool AudioCapture::WriteFailed()
{
    const std::string reason = AviFileOf(context_)->LastError();
    const std::string message = reason.empty() ? std::string("Write audio data error")
                                               : std::string("Write audio data error: ") + reason;
    ReportCaptureError(options_->NotifyWindow, message.c_str());
    return false;
}

// Copies the whole blocks captured since the last drain into the transfer buffer.
// A source that went away (unplugged, the sound server ended) shows here first.
bool AudioCapture::Drain()
{
    uint32_t readPosition = 0;
    if (!device_->GetReadPosition(&readPosition))
        return DeviceFailed("Failed to read the sound capture position");
    return CopyOut(readPosition, true);
}

// The device failed (its source went away, say): the sound it captured before that
// still goes into the file, so that the recording keeps everything up to the failure.
void AudioCapture::KeepWhatWasCaptured()
{
    uint32_t end = 0;
    if (!device_ || bufferSize_ == 0 || !device_->GetCapturedPosition(&end))
        return;
    if (CopyOut(end, false))
        Write();
}

// Copies the whole blocks from the last read offset up to readPosition. report:
// a refused lock is reported as the recording's failure (otherwise only false).
bool AudioCapture::CopyOut(uint32_t readPosition, bool report)
{
    int64_t available = static_cast<int64_t>(readPosition) - lastReadOffset_;
    if (available < 0)
        available += bufferSize_;
    available -= available % format_.nBlockAlign;
    available = std::min<int64_t>(available, static_cast<int64_t>(transfer_.size()) - pending_);
    if (available <= 0)
        return true;
    void* region1 = nullptr;
    void* region2 = nullptr;
    uint32_t length1 = 0, length2 = 0;
    if (!device_->Lock(lastReadOffset_, static_cast<uint32_t>(available), &region1, &length1, &region2, &length2))
        return report && DeviceFailed("Failed to lock the sound capture buffer");
    std::memcpy(&transfer_[pending_], region1, length1);
    if (region2 && length2)
        std::memcpy(&transfer_[pending_ + length1], region2, length2);
    pending_ += length1 + length2;
    lastReadOffset_ = (lastReadOffset_ + length1 + length2) % bufferSize_;
    if (!device_->Unlock(region1, length1, region2, length2))
        return report && DeviceFailed("Failed to unlock the sound capture buffer");
    return true;
}

// Appends the drained bytes to the stream; the next drain starts the buffer afresh.
// A full disk or the file size limit shows here.
bool AudioCapture::Write()
{
    if (pending_ == 0)
        return true;
    const auto samples = static_cast<int32_t>(pending_ / format_.nBlockAlign);
    if (!stream_->Write(samplePosition_, samples, transfer_.data(), pending_, 0))
        return WriteFailed();
    samplePosition_ += samples;
    pending_ = 0;
    return true;
}

bool AudioCapture::StartCapture()
{
    if (capturing_)
        return true;
    if (!device_->Start())
        return DeviceFailed("Failed to start the sound capture");
    capturing_ = true;
    return true;
}

bool AudioCapture::StopAndFlush()
{
    if (!device_->Stop())
        return DeviceFailed("Failed to stop the sound capture");
    capturing_ = false;
    return Drain() && Write();
}

uint32_t AudioCapture::Run()
{
    platform::NamedEvent* run = RunEvent(context_);
    platform::NamedEvent* stop = StopEvent(context_);
    // The sixteen notifications, and the stop request: a stop is seen at once rather
    // than at the next notification, so that the sound ends where the video ends (and
    // the caller waits no longer than the final flush).
    std::array<platform::NamedEvent*, kNotifications + 1> events;
    for (size_t i = 0; i < kNotifications; ++i)
        events[i] = notifications_[i].get();
    events[kNotifications] = stop;

    for (;;) {
        const int running = run->State();
        if (running < 0)
            return 1;
        if (running == 0) {
            // Paused: flush what was captured before the pause, capture nothing meanwhile.
            if (capturing_ && !StopAndFlush())
                return 1;
            if (run->Wait() != platform::NamedEvent::WaitResult::Signaled) {
                ReportWaitFailure(options_->NotifyWindow, "Failed to wait for the run event");
                return 1;
            }
        }
        if (!StartCapture())
            return 1;

        const int stopping = stop->State();
        if (stopping < 0)
            return 1;
        if (stopping == 1)
            return StopAndFlush() ? 0 : 1;  // the last chunk

        const int woken = platform::NamedEvent::WaitAny(events.data(), events.size(), kRunPollMs);
        if (woken == -1)
            continue;  // time to look at RunEvent again
        if (woken < 0) {
            ReportWaitFailure(options_->NotifyWindow, "Failed to wait for sound notifications");
            return 1;
        }
        if (woken == static_cast<int>(kNotifications))
            return StopAndFlush() ? 0 : 1;  // the last chunk
        if (!Drain() || !Write())
            return 1;
    }
}

}  // namespace

void SetAudioDeviceSource(AudioDeviceSource* source)
{
    g_source.store(source);
}

AudioDeviceSource& CurrentAudioDeviceSource()
{
    static PulseDeviceSource pulse;
    AudioDeviceSource* source = g_source.load();
    return source ? *source : pulse;
}

bool FindCaptureDevice(std::string_view name, std::string* id)
{
    id->clear();
    std::vector<platform::AudioDevice> devices;
    if (!CurrentAudioDeviceSource().Enumerate(&devices))
        return false;
    for (const auto& device : devices) {
        if (device.id.empty())
            continue;  // the primary device
        // The choice was stored cut (a longer description would never match whole).
        if (platform::StoredAudioDescription(device.description) == platform::StoredAudioDescription(name))
            *id = device.id;  // enumeration goes on: the last match wins
    }
    return true;
}

uint32_t AudioThreadMain(void* argument)
{
    AudioCapture capture(static_cast<CaptureContext*>(argument));
    if (!capture.SetUp())
        return 1;
    return capture.Run();
}

}  // namespace korvid
