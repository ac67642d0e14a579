#include "platform/audio/PulseCaptureDevice.h"

#include <algorithm>

namespace platform {

namespace {

constexpr uint32_t kAllPcmFormats = 0xFFF;

bool SampleFormatOf(uint16_t bits, pa_sample_format_t* format, uint8_t* silence) {
    *silence = 0;
    switch (bits) {
    case 8: *format = PA_SAMPLE_U8; *silence = 0x80; return true;
    case 16: *format = PA_SAMPLE_S16LE; return true;
    case 24: *format = PA_SAMPLE_S24LE; return true;
    case 32: *format = PA_SAMPLE_S32LE; return true;
    default: return false;
    }
}

}  // namespace

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
    EndFill();
    CancelAlign();
    if (stream_) {
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_read_callback(stream_, nullptr, nullptr);
        pa_stream_set_suspended_callback(stream_, nullptr, nullptr);
        pa_stream_set_overflow_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }
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
    EndFill();
    CancelAlign();
    running_ = false;
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

// Suspended, resumed, or data lost to an overflow: what comes next is no longer
// continuous with what came before, so it is placed by its capture time again.
void PulseCaptureDevice::OnSuspended(pa_stream*, void* arg) {
    static_cast<PulseCaptureDevice*>(arg)->aligned_ = false;
}

void PulseCaptureDevice::OnRead(pa_stream*, size_t, void* arg) {
    static_cast<PulseCaptureDevice*>(arg)->Consume();
}

void PulseCaptureDevice::Discard() {
    const void* data = nullptr;
    size_t length = 0;
    while (pa_stream_peek(stream_, &data, &length) == 0 && length > 0) pa_stream_drop(stream_);
}

void PulseCaptureDevice::Consume() {
    if (!running_) {
        Discard();
        return;
    }
    if (!aligned_) {
        // The sound waits in the stream until fresh timing tells when it was captured.
        if (!alignRequest_) {
            alignRequest_ = pa_stream_update_timing_info(stream_, &OnAlignTiming, this);
            if (!alignRequest_) Align();  // place it with what is known
        }
        if (!aligned_) return;
    }
    for (;;) {
        const void* data = nullptr;
        size_t length = 0;
        if (pa_stream_peek(stream_, &data, &length) < 0) {
            Fail("Cannot read from the sound source: " + connection_->ErrorText());
            return;
        }
        if (length == 0) return;  // nothing more queued
        heard_ = true;
        lastArrival_ = pa_rtclock_now();
        const AudioCaptureTimeline::Share share = timeline_->Accept(length);
        if (share.place > 0) {
            // A hole in the stream (data null) is kept as silence, so time stays in step.
            ring_->Write(data ? static_cast<const uint8_t*>(data) + share.drop : nullptr, share.place);
            timeline_->Placed(share.place);
        }
        pa_stream_drop(stream_);
        if (timeline_->Ending() && timeline_->Missing() == 0)
            pa_threaded_mainloop_signal(connection_->Mainloop(), 0);
    }
}

void PulseCaptureDevice::OnAlignTiming(pa_stream*, int, void* arg) {
    auto* self = static_cast<PulseCaptureDevice*>(arg);
    if (self->alignRequest_) {  // done: only our reference is left to release
        pa_operation_unref(self->alignRequest_);
        self->alignRequest_ = nullptr;
    }
    if (!self->running_ || self->closing_ || self->aligned_) return;
    self->Align();
    self->Consume();
}

void PulseCaptureDevice::Align() {
    // The stream's latency is the age of the next byte to read: the source's own
    // latency plus whatever waits on the server and in this stream.
    const pa_usec_t now = pa_rtclock_now();
    pa_usec_t latency = 0;
    int negative = 0;
    int64_t captured = static_cast<int64_t>(now);
    if (pa_stream_get_latency(stream_, &latency, &negative) == 0) {
        if (!negative) captured -= static_cast<int64_t>(latency);  // sound from the future is taken as now
    } else {
        // No timing: take what waits as the latest sound.
        captured -= static_cast<int64_t>(pa_bytes_to_usec(pa_stream_readable_size(stream_), pa_stream_get_sample_spec(stream_)));
    }
    const uint64_t silence = timeline_->Align(captured);
    if (silence > 0) {
        ring_->Write(nullptr, static_cast<size_t>(silence));
        timeline_->Placed(silence);
    }
    aligned_ = true;
}

pa_usec_t PulseCaptureDevice::SourceLatency() const {
    const pa_timing_info* timing = pa_stream_get_timing_info(stream_);
    return timing ? timing->source_usec : 0;
}

void PulseCaptureDevice::FillSilence(pa_usec_t now) {
    // The source may still deliver sound captured within its latency and one
    // fragment or two in transit; only the time before that is surely silent.
    const pa_usec_t allowance = SourceLatency() + 2 * kFragmentMs * PA_USEC_PER_MSEC;
    if (now <= allowance) return;
    const uint64_t silence = timeline_->SilenceUntil(now - allowance);
    if (silence == 0) return;
    ring_->Write(nullptr, static_cast<size_t>(silence));
    timeline_->Placed(silence);
    aligned_ = false;  // sound that comes after all is placed by its capture time
    if (timeline_->Ending() && timeline_->Missing() == 0) pa_threaded_mainloop_signal(connection_->Mainloop(), 0);
}

bool PulseCaptureDevice::Silent(pa_usec_t now) const {
    // Nothing since Start (a monitor whose sink has not rendered yet), a suspended
    // source, or one that has stopped sending for longer than it may lag.
    return !heard_ || pa_stream_is_suspended(stream_) == 1 ||
           now > lastArrival_ + SourceLatency() + kSilentAfterMs * PA_USEC_PER_MSEC;
}

void PulseCaptureDevice::OnFillTimer(pa_mainloop_api*, pa_time_event* timer, const struct timeval*, void* arg) {
    auto* self = static_cast<PulseCaptureDevice*>(arg);
    if (!self->running_) return;
    const pa_usec_t now = pa_rtclock_now();
    if (self->Silent(now)) self->FillSilence(now);
    pa_context_rttime_restart(self->connection_->Context(), timer, now + kFillTickMs * PA_USEC_PER_MSEC);
}

void PulseCaptureDevice::CancelAlign() {
    if (alignRequest_) {
        pa_operation_cancel(alignRequest_);
        pa_operation_unref(alignRequest_);
        alignRequest_ = nullptr;
    }
}

void PulseCaptureDevice::EndFill() {
    if (fillTimer_) {
        pa_threaded_mainloop_get_api(connection_->Mainloop())->time_free(fillTimer_);
        fillTimer_ = nullptr;
    }
}

bool PulseCaptureDevice::StreamSettled(void* arg) {
    auto* self = static_cast<PulseCaptureDevice*>(arg);
    pa_stream_state_t state = pa_stream_get_state(self->stream_);
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
    *formats = kAllPcmFormats;
    return true;
}

bool PulseCaptureDevice::CreateBuffer(const WaveFormatEx& format, uint32_t bufferBytes) {
    if (format.wFormatTag != 1) return Error("The capture format is not PCM (format tag " + std::to_string(format.wFormatTag) + ")");
    pa_sample_spec sampleSpec{};
    uint8_t silence = 0;
    if (!SampleFormatOf(format.wBitsPerSample, &sampleSpec.format, &silence))
        return Error("Unsupported sample size: " + std::to_string(format.wBitsPerSample) + " bits");
    if (format.nChannels < 1 || format.nChannels > PA_CHANNELS_MAX)
        return Error("Unsupported channel count: " + std::to_string(format.nChannels));
    if (format.nSamplesPerSec < 1 || format.nSamplesPerSec > PA_RATE_MAX)
        return Error("Unsupported sample rate: " + std::to_string(format.nSamplesPerSec) + " Hz");
    const uint32_t blockAlign = format.nChannels * format.wBitsPerSample / 8u;
    if (format.nBlockAlign != blockAlign || format.nAvgBytesPerSec != blockAlign * format.nSamplesPerSec)
        return Error("Inconsistent capture format: nBlockAlign " + std::to_string(format.nBlockAlign) +
                     ", nAvgBytesPerSec " + std::to_string(format.nAvgBytesPerSec) + " (expected " +
                     std::to_string(blockAlign) + " and " + std::to_string(blockAlign * format.nSamplesPerSec) + ")");
    if (bufferBytes < blockAlign)
        return Error("The capture buffer of " + std::to_string(bufferBytes) + " bytes holds no whole sample");
    sampleSpec.rate = format.nSamplesPerSec;
    sampleSpec.channels = static_cast<uint8_t>(format.nChannels);

    if (locked_ > 0) return Error("CreateBuffer while a region of the capture buffer is locked");
    PulseConnection::Lock lock(*connection_);
    if (!CheckHealthy()) return false;
    if (stream_) return Error("The capture buffer exists already");

    pa_channel_map map;
    if (!pa_channel_map_init_extend(&map, sampleSpec.channels, PA_CHANNEL_MAP_WAVEEX))
        return Error("No channel layout for " + std::to_string(sampleSpec.channels) + " channels");
    blockAlign_ = blockAlign;
    ring_ = std::make_unique<AudioCaptureRing>(bufferBytes, silence);
    timeline_ = std::make_unique<AudioCaptureTimeline>(format.nAvgBytesPerSec, blockAlign);

    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "production");
    stream_ = pa_stream_new_with_proplist(connection_->Context(), "Screen recording sound", &sampleSpec, &map, properties);
    pa_proplist_free(properties);
    if (!stream_) return Error("Cannot create a record stream: " + connection_->ErrorText());
    pa_stream_set_state_callback(stream_, &OnStreamState, this);
    pa_stream_set_read_callback(stream_, &OnRead, this);
    pa_stream_set_suspended_callback(stream_, &OnSuspended, this);
    pa_stream_set_overflow_callback(stream_, &OnSuspended, this);

    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
    // Small fragments keep the read position moving in steps of tens of milliseconds.
    size_t fragment = pa_usec_to_bytes(kFragmentMs * PA_USEC_PER_MSEC, &sampleSpec);
    attr.fragsize = static_cast<uint32_t>(std::max<size_t>(fragment - fragment % blockAlign, blockAlign));
    // Timing kept up to date by the server and interpolated in between: it tells when
    // the sound read was captured.
    int flags = PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                PA_STREAM_AUTO_TIMING_UPDATE;
    if (!source_.empty()) flags |= PA_STREAM_DONT_MOVE;
    if (pa_stream_connect_record(stream_, source_.empty() ? nullptr : source_.c_str(), &attr,
                                 static_cast<pa_stream_flags_t>(flags)) < 0)
        return Error("Cannot connect the record stream: " + connection_->ErrorText());
    connection_->WaitUntil(&StreamSettled, this);
    if (pa_stream_get_state(stream_) != PA_STREAM_READY) {
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
    const pa_usec_t now = pa_rtclock_now();
    // Waiting for the server while a region is locked would block the fill for good.
    if (locked_ > 0) return Error("Start while a region of the capture buffer is locked");
    PulseConnection::Lock lock(*connection_);
    if (!CheckHealthy()) return false;
    if (!stream_) return Error("Start needs a capture buffer first");
    if (running_) return true;
    // Anything the server still holds from before the last stop is not wanted.
    if (!connection_->Finish(pa_stream_flush(stream_, nullptr, nullptr)))
        return CheckHealthy() ? Error("The sound server did not flush the record stream") : false;
    Discard();
    timeline_->Begin(now);
    running_ = true;
    aligned_ = false;
    heard_ = false;
    lastArrival_ = now;
    // While the source sends nothing, a timer keeps the position moving with the clock.
    fillTimer_ = pa_context_rttime_new(connection_->Context(), now + kFillTickMs * PA_USEC_PER_MSEC, &OnFillTimer, this);
    if (!connection_->Finish(pa_stream_cork(stream_, 0, nullptr, nullptr))) {
        running_ = false;
        EndFill();
        CancelAlign();
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
    if (!running_) return true;
    // The run ends now. Sound captured up to now may still be on its way (the
    // source's latency, a fragment in transit): wait for it, a little longer than it
    // should take, and keep nothing captured after now.
    timeline_->EndAt(now);
    if (Silent(now)) FillSilence(now);
    const uint64_t missingMs =
        pa_bytes_to_usec(timeline_->Missing(), pa_stream_get_sample_spec(stream_)) / PA_USEC_PER_MSEC;
    connection_->WaitUntil(&StopReached, this,
                           static_cast<uint32_t>(std::min<uint64_t>(missingMs + 300, kStopWaitMaxMs)));
    if (!CheckHealthy()) return false;
    // What did not come in time counts as silence, so the run lasts as long as it ran.
    if (const uint64_t missing = timeline_->Missing()) {
        ring_->Write(nullptr, static_cast<size_t>(missing));
        timeline_->Placed(missing);
    }
    running_ = false;
    EndFill();
    CancelAlign();
    if (!connection_->Finish(pa_stream_cork(stream_, 1, nullptr, nullptr)))
        return CheckHealthy() ? Error("The sound server did not stop the record stream") : false;
    Discard();
    ring_->NotifyStop();
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

bool PulseCaptureDevice::Lock(uint32_t offset, uint32_t length, void** region1, uint32_t* length1,
                              void** region2, uint32_t* length2) {
    if (!region1 || !length1) return Error("Lock needs places for the first region");
    if (!ring_) return Error("There is no capture buffer");
    const uint32_t size = ring_->Size();
    if (offset >= size || length > size)
        return Error("Lock of " + std::to_string(length) + " bytes at " + std::to_string(offset) +
                     " does not fit a capture buffer of " + std::to_string(size) + " bytes");
    pa_threaded_mainloop_lock(connection_->Mainloop());
    if (!CheckHealthy()) {
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
