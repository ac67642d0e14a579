// The audio capture thread: captures into a looping sixteen-second buffer with one
// notification per second and appends what was captured to the audio stream in
// chunks of about one second, following RunEvent for pause and resume. With a second
// device named in the options both are captured at once, each placed by its capture
// time, and mixed into the one stream. Both capture in the recording's format: the
// sound server converts a source that runs at another rate or channel count.
#include "engine/AudioThread.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <string>

#include "engine/AudioFormatCheck.h"
#include "engine/AudioMix.h"
#include "engine/AudioSource.h"
#include "engine/CaptureThreads.h"
#include "engine/ContextAccess.h"
#include "engine/LastError.h"
#include "engine/OptionText.h"
#include "engine/StreamSetup.h"
#include "platform/audio/AudioDescription.h"

namespace korvid {

namespace {

constexpr size_t kNotifications = AudioSource::kNotifications;
constexpr size_t kMaxSources = 2;
// How often the thread looks at RunEvent between notifications: a pause then ends
// the sound within this time of the picture, not up to a second later, so a paused
// recording neither gains nor loses sound against its picture.
constexpr uint32_t kRunPollMs = 10;

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
        for (auto& source : sources_)
            source.reset();
        if (stream_)
            stream_->Release();
    }

    bool SetUp();
    uint32_t Run();

private:
    bool AddSource(std::string_view name, bool second);
    // The sound captured by every source before one of them failed goes into the file.
    void KeepWhatWasCaptured();
    bool WriteFailed();
    // Copies what the sources captured into the transfer buffer. final (after a
    // stop): everything each source holds, a shorter one padded with silence;
    // otherwise what all of them hold, the rest waiting for the next drain.
    bool Drain(bool final = false, bool captured = false);
    bool Write();
    bool StartCapture();
    bool StopAndFlush();

    CaptureContext* context_;
    const CaptureOptions* options_;
    const WaveFormatEx format_;
    platform::AviStream* stream_ = nullptr;
    std::array<std::unique_ptr<AudioSource>, kMaxSources> sources_;
    size_t sourceCount_ = 0;
    uint32_t bufferSize_ = 0;
    std::vector<uint8_t> transfer_;
    std::vector<uint8_t> mix_;  // the second source's sound before it is mixed in
    uint32_t pending_ = 0;
    int64_t samplePosition_ = 0;  // in blocks; 2^31 of them pass within hours at high rates
    bool capturing_ = false;
    bool keeping_ = false;
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
    bufferSize_ = 16 * format_.nAvgBytesPerSec;
    transfer_.resize(bufferSize_);
    const std::string_view second = OptionText(options_->AudioDeviceName2);
    if (!AddSource(OptionText(options_->AudioDeviceName), !second.empty()))
        return false;
    if (!second.empty()) {
        mix_.resize(bufferSize_);
        if (!AddSource(second, true))
            return false;
    }
    StoreState(context_, StateAudioReady);
    return true;
}

// named: failure texts carry the source's description (two sources are recorded).
bool AudioCapture::AddSource(std::string_view name, bool named)
{
    const bool second = sourceCount_ > 0;
    std::string id;
    if (!FindCaptureDevice(name, &id)) {
        ReportCaptureError(options_->NotifyWindow, "Failed to list the sound capture devices");
        return false;
    }
    if (second && id.empty()) {
        // The first source falls back to the default device; a second one that is
        // not there would record that device twice, or the same one as the first.
        const std::string text = "The second sound capture device is not there (" + std::string(name) + ")";
        ReportCaptureError(options_->NotifyWindow, text.c_str());
        return false;
    }
    auto source = std::make_unique<AudioSource>(options_, std::string(name), named);
    source->OnFailure([this] { KeepWhatWasCaptured(); });
    sources_[sourceCount_++] = std::move(source);
    return sources_[sourceCount_ - 1]->SetUp(id, format_, bufferSize_);
}

bool AudioCapture::WriteFailed()
{
    const std::string reason = AviFileOf(context_)->LastError();
    const std::string message = reason.empty() ? std::string("Write audio data error")
                                               : std::string("Write audio data error: ") + reason;
    ReportCaptureError(options_->NotifyWindow, message.c_str());
    return false;
}

// A device failed (its source went away, say): the sound captured before that still
// goes into the file, so that the recording keeps everything up to the failure.
void AudioCapture::KeepWhatWasCaptured()
{
    if (keeping_ || bufferSize_ == 0)
        return;
    keeping_ = true;
    if (Drain(false, true))
        Write();
    keeping_ = false;
}

bool AudioCapture::Drain(bool final, bool captured)
{
    std::array<uint32_t, kMaxSources> available{};
    for (size_t i = 0; i < sourceCount_; ++i)
        if (!sources_[i]->Available(&available[i], captured))
            return false;
    const auto first = available.begin(), last = available.begin() + sourceCount_;
    uint32_t length = final ? *std::max_element(first, last) : *std::min_element(first, last);
    length = std::min(length, static_cast<uint32_t>(transfer_.size()) - pending_);
    if (length == 0)
        return true;
    const uint8_t silence = SilenceByte(format_.wBitsPerSample);
    uint8_t* target = &transfer_[pending_];
    for (size_t i = 0; i < sourceCount_; ++i) {
        uint8_t* into = i == 0 ? target : mix_.data();
        const uint32_t own = std::min(available[i], length);
        if (!sources_[i]->CopyOut(into, own, !captured))
            return false;
        std::memset(into + own, silence, length - own);
        if (i > 0)
            MixInto(target, into, length, format_.wBitsPerSample);
    }
    pending_ += length;
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
    // Every source's run begins at one instant, so their sound lines up when mixed
    // even though each start waits for the sound server.
    const uint64_t now = platform::AudioCapture::ClockUs();
    for (size_t i = 0; i < sourceCount_; ++i)
        if (!sources_[i]->Start(now))
            return false;
    capturing_ = true;
    return true;
}

bool AudioCapture::StopAndFlush()
{
    // Likewise every run ends at one instant: a stop waits for the sound still on
    // its way, and the next source must not go on capturing meanwhile.
    const uint64_t now = platform::AudioCapture::ClockUs();
    for (size_t i = 0; i < sourceCount_; ++i)
        if (!sources_[i]->EndRunAt(now))
            return false;
    for (size_t i = 0; i < sourceCount_; ++i)
        if (!sources_[i]->Stop())
            return false;
    capturing_ = false;
    return Drain(true) && Write();
}

uint32_t AudioCapture::Run()
{
    platform::NamedEvent* run = RunEvent(context_);
    platform::NamedEvent* stop = StopEvent(context_);
    // The notifications of every source, and the stop request: a stop is seen at once
    // rather than at the next notification, so that the sound ends where the video
    // ends (and the caller waits no longer than the final flush). A source that fails
    // sets its notifications, so its failure is seen at once too.
    std::array<platform::NamedEvent*, kNotifications * kMaxSources + 1> events;
    size_t count = 0;
    for (size_t s = 0; s < sourceCount_; ++s)
        for (size_t i = 0; i < kNotifications; ++i)
            events[count++] = sources_[s]->Notification(i);
    const size_t stopIndex = count;
    events[count++] = stop;

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

        const int woken = platform::NamedEvent::WaitAny(events.data(), count, kRunPollMs);
        if (woken == -1)
            continue;  // time to look at RunEvent again
        if (woken < 0) {
            ReportWaitFailure(options_->NotifyWindow, "Failed to wait for sound notifications");
            return 1;
        }
        if (woken == static_cast<int>(stopIndex))
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
