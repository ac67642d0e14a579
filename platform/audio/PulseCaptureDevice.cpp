#include "platform/audio/PulseCaptureDevice.h"

#include <algorithm>
#include <utility>

#include "platform/audio/PulseSampleFormat.h"

namespace platform {

PulseCaptureDevice::PulseCaptureDevice(std::unique_ptr<PulseConnection> connection, std::string source)
    : connection_(std::move(connection)), source_(std::move(source)) {}

PulseCaptureDevice::~PulseCaptureDevice() {
    pa_threaded_mainloop* mainloop = connection_->Mainloop();
    while (locked_ > 0) {  // a Lock without its Unlock
        --locked_;
        pa_threaded_mainloop_unlock(mainloop);
    }
    PulseConnection::Lock lock(*connection_);
    closing_ = true;
    placement_.reset();
    stream_.reset();
}

bool PulseCaptureDevice::Error(std::string text) {
    lastError_ = std::move(text);
    return false;
}

bool PulseCaptureDevice::CheckHealthy() {
    if (failed_.load(std::memory_order_acquire)) return Error(failReason_);
    if (!connection_->Good()) return Error("Lost the connection to the sound server: " + connection_->ErrorText());
    return true;
}

void PulseCaptureDevice::Fail(std::string reason) {
    if (failed_.load(std::memory_order_relaxed)) return;
    failReason_ = std::move(reason);
    if (placement_) placement_->End();
    failed_.store(true, std::memory_order_release);
    if (ring_) ring_->NotifyAll();
    pa_threaded_mainloop_signal(connection_->Mainloop(), 0);
}

void PulseCaptureDevice::OnStreamState(pa_stream* stream, void* arg) {
    auto* self = static_cast<PulseCaptureDevice*>(arg);
    pa_stream_state_t state = pa_stream_get_state(stream);
    if (!PA_STREAM_IS_GOOD(state) && !self->closing_) {
        std::string where = self->source_.empty() ? "the default sound source" : "sound source \"" + self->source_ + "\"";
        self->Fail("Capture from " + where + " ended: " + self->connection_->ErrorText());
    }
    pa_threaded_mainloop_signal(self->connection_->Mainloop(), 0);
}

bool PulseCaptureDevice::StreamSettled(void* arg) {
    auto* self = static_cast<PulseCaptureDevice*>(arg);
    pa_stream_state_t state = pa_stream_get_state(self->stream_->Get());
    return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
}

bool PulseCaptureDevice::StopReached(void* arg) {
    auto* self = static_cast<PulseCaptureDevice*>(arg);
    return self->timeline_->Missing() == 0 || self->failed_.load(std::memory_order_relaxed);
}

bool PulseCaptureDevice::GetFormats(uint32_t* formats) {
    if (!formats) return Error("GetFormats needs a place for the format mask");
    PulseConnection::Lock lock(*connection_);
    if (!CheckHealthy()) return false;
    // The server converts to whatever PCM format a stream asks for.
    *formats = PulseSampleFormat::kAllPcmFormats;
    return true;
}

bool PulseCaptureDevice::CreateBuffer(const WaveFormatEx& format, uint32_t bufferBytes) {
    PulseSampleFormat sample;
    std::string refused;
    if (!PulseSampleFormat::Of(format, bufferBytes, &sample, &refused)) return Error(std::move(refused));

    if (locked_ > 0) return Error("CreateBuffer while a region of the capture buffer is locked");
    PulseConnection::Lock lock(*connection_);
    if (!CheckHealthy()) return false;
    if (stream_) return Error("The capture buffer exists already");

    pa_channel_map map;
    if (!pa_channel_map_init_extend(&map, sample.stream.channels, PA_CHANNEL_MAP_WAVEEX))
        return Error("No channel layout for " + std::to_string(sample.stream.channels) + " channels");
    blockAlign_ = sample.blockAlign;
    ring_ = std::make_unique<AudioCaptureRing>(bufferBytes, sample.silence);
    timeline_ = std::make_unique<AudioCaptureTimeline>(format.nAvgBytesPerSec, sample.blockAlign);

    auto stream = std::make_unique<PulseRecordStream>(*connection_, sample.stream, map);
    if (!stream->Get()) return Error("Cannot create a record stream: " + connection_->ErrorText());
    stream_ = std::move(stream);
    pa_stream_set_state_callback(stream_->Get(), &OnStreamState, this);
    placement_ = std::make_unique<PulseFragmentPlacement>(*connection_, *stream_, *ring_, *timeline_,
                                                          [this](std::string reason) { Fail(std::move(reason)); });

    if (!stream_->Connect(source_, sample.blockAlign))
        return Error("Cannot connect the record stream: " + connection_->ErrorText());
    connection_->WaitUntil(&StreamSettled, this);
    if (pa_stream_get_state(stream_->Get()) != PA_STREAM_READY) {
        if (!CheckHealthy()) return false;
        return Error("The sound server did not set up the record stream in time");
    }
    return true;
}

bool PulseCaptureDevice::SetNotificationPositions(const uint32_t* offsets, NamedEvent* const* events, size_t count) {
    PulseConnection::Lock lock(*connection_);
    if (!CheckHealthy()) return false;
    if (!ring_) return Error("Notification positions need a capture buffer first");
    if (!ring_->SetNotifications(offsets, events, count))
        return Error("A notification position lies outside the capture buffer or has no event");
    return true;
}

bool PulseCaptureDevice::Start() {
    // The run starts now; the server's answers below do not delay it.
    return StartAt(pa_rtclock_now());
}

bool PulseCaptureDevice::StartAt(uint64_t now) {
    // Waiting for the server while a region is locked would block the fill for good.
    if (locked_ > 0) return Error("Start while a region of the capture buffer is locked");
    PulseConnection::Lock lock(*connection_);
    if (!CheckHealthy()) return false;
    if (!stream_) return Error("Start needs a capture buffer first");
    if (placement_->Running()) return true;
    // Anything the server still holds from before the last stop is not wanted.
    if (!connection_->Finish(pa_stream_flush(stream_->Get(), nullptr, nullptr)))
        return CheckHealthy() ? Error("The sound server did not flush the record stream") : false;
    stream_->Discard();
    placement_->Begin(now);
    if (!connection_->Finish(pa_stream_cork(stream_->Get(), 0, nullptr, nullptr))) {
        placement_->End();
        return CheckHealthy() ? Error("The sound server did not start the record stream") : false;
    }
    return true;
}

bool PulseCaptureDevice::Stop() {
    const pa_usec_t now = pa_rtclock_now();
    // Waiting for the server while a region is locked would block the fill for good.
    if (locked_ > 0) return Error("Stop while a region of the capture buffer is locked");
    PulseConnection::Lock lock(*connection_);
    if (!CheckHealthy()) return false;
    if (!stream_) return Error("Stop needs a capture buffer first");
    if (!placement_->Running()) return true;
    // The run ends now (or where EndRunAt ended it). Sound captured up to then may
    // still be on its way (the source's latency, a fragment in transit): wait for it,
    // a little longer than it should take, and keep nothing captured after it.
    if (!timeline_->Ending()) timeline_->EndAt(now);
    if (placement_->Silent(now)) placement_->FillSilence(now);
    // A source that sends its sound in large blocks (a sine source, some network
    // sources) may still owe a whole block when little seems missing.
    const uint64_t missingMs =
        std::max({pa_bytes_to_usec(timeline_->Missing(), pa_stream_get_sample_spec(stream_->Get())),
                  placement_->SourceLatency(), placement_->LongestGap()}) /
        PA_USEC_PER_MSEC;
    connection_->WaitUntil(&StopReached, this,
                           static_cast<uint32_t>(std::min<uint64_t>(missingMs + 300, kStopWaitMaxMs)));
    if (!CheckHealthy()) return false;
    // What did not come in time counts as silence, so the run lasts as long as it ran.
    if (const uint64_t missing = timeline_->Missing()) {
        ring_->Write(nullptr, static_cast<size_t>(missing));
        timeline_->Placed(missing);
    }
    placement_->End();
    if (!connection_->Finish(pa_stream_cork(stream_->Get(), 1, nullptr, nullptr)))
        return CheckHealthy() ? Error("The sound server did not stop the record stream") : false;
    stream_->Discard();
    ring_->NotifyStop();
    return true;
}

bool PulseCaptureDevice::EndRunAt(uint64_t instantUs) {
    PulseConnection::Lock lock(*connection_);
    if (!CheckHealthy()) return false;
    if (stream_ && placement_->Running() && !timeline_->Ending()) timeline_->EndAt(instantUs);
    return true;
}

bool PulseCaptureDevice::GetReadPosition(uint32_t* position) {
    if (!position) return Error("GetReadPosition needs a place for the position");
    if (failed_.load(std::memory_order_acquire)) {
        PulseConnection::Lock lock(*connection_);
        return CheckHealthy();
    }
    if (!ring_) return Error("There is no capture buffer");
    *position = ring_->WritePosition();
    return true;
}

bool PulseCaptureDevice::GetCapturedPosition(uint32_t* position) {
    if (!position) return Error("GetCapturedPosition needs a place for the position");
    if (!ring_) return Error("There is no capture buffer");
    // After a failure the fill has stopped: the position stays where it ended.
    *position = ring_->WritePosition();
    return true;
}

bool PulseCaptureDevice::Lock(uint32_t offset, uint32_t length, void** region1, uint32_t* length1,
                              void** region2, uint32_t* length2) {
    if (!region1 || !length1) return Error("Lock needs places for the first region");
    if (!ring_) return Error("There is no capture buffer");
    const uint32_t size = ring_->Size();
    if (offset >= size || length > size)
        return Error("Lock of " + std::to_string(length) + " bytes at " + std::to_string(offset) +
                     " does not fit a capture buffer of " + std::to_string(size) + " bytes");
    pa_threaded_mainloop_lock(connection_->Mainloop());
    // After a failure the bytes captured before it can still be read out.
    if (!failed_.load(std::memory_order_acquire) && !CheckHealthy()) {
        pa_threaded_mainloop_unlock(connection_->Mainloop());
        return false;
    }
    // The fill runs under the same lock, so the bytes stay put until Unlock.
    ++locked_;
    const uint32_t first = std::min(length, size - offset);
    *region1 = ring_->Data() + offset;
    *length1 = first;
    if (region2) *region2 = first < length ? ring_->Data() : nullptr;
    if (length2) *length2 = length - first;
    if (first < length && (!region2 || !length2)) {
        --locked_;
        pa_threaded_mainloop_unlock(connection_->Mainloop());
        return Error("Lock wraps around but has no place for the second region");
    }
    return true;
}

bool PulseCaptureDevice::Unlock(void* region1, uint32_t length1, void* region2, uint32_t length2) {
    if (locked_ == 0) return Error("Unlock without Lock");
    const uint8_t* begin = ring_->Data();
    const uint8_t* end = begin + ring_->Size();
    auto inside = [&](void* region, uint32_t length) {
        auto* p = static_cast<const uint8_t*>(region);
        return !region ? length == 0 : (p >= begin && p + length <= end);
    };
    --locked_;
    pa_threaded_mainloop_unlock(connection_->Mainloop());
    if (!inside(region1, length1) || !inside(region2, length2))
        return Error("Unlock of a region outside the capture buffer");
    return true;
}

}  // namespace platform
