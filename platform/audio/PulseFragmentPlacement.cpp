#include "platform/audio/PulseFragmentPlacement.h"

#include <algorithm>

#include <utility>

namespace platform {

PulseFragmentPlacement::PulseFragmentPlacement(PulseConnection& connection, PulseRecordStream& stream,
                                               AudioCaptureRing& ring, AudioCaptureTimeline& timeline,
                                               std::function<void(std::string)> fail)
    : connection_(connection), stream_(stream), ring_(ring), timeline_(timeline), fail_(std::move(fail)) {
    pa_stream_set_read_callback(stream_.Get(), &OnRead, this);
    pa_stream_set_suspended_callback(stream_.Get(), &OnSuspended, this);
    pa_stream_set_overflow_callback(stream_.Get(), &OnSuspended, this);
}

PulseFragmentPlacement::~PulseFragmentPlacement() {
    EndFill();
    CancelAlign();
}

void PulseFragmentPlacement::Begin(pa_usec_t now) {
    timeline_.Begin(now);
    running_ = true;
    aligned_ = false;
    heard_ = false;
    lastArrival_ = now;
    // While the source sends nothing, a timer keeps the position moving with the clock.
    fillTimer_ = pa_context_rttime_new(connection_.Context(), now + kFillTickMs * PA_USEC_PER_MSEC, &OnFillTimer, this);
}

void PulseFragmentPlacement::End() {
    running_ = false;
    EndFill();
    CancelAlign();
}

// Suspended, resumed, or data lost to an overflow: what comes next is no longer
// continuous with what came before, so it is placed by its capture time again.
void PulseFragmentPlacement::OnSuspended(pa_stream*, void* arg) {
    static_cast<PulseFragmentPlacement*>(arg)->aligned_ = false;
}

void PulseFragmentPlacement::OnRead(pa_stream*, size_t, void* arg) {
    static_cast<PulseFragmentPlacement*>(arg)->Consume();
}

void PulseFragmentPlacement::Consume() {
    if (!running_) {
        stream_.Discard();
        return;
    }
    pa_stream* stream = stream_.Get();
    if (!aligned_) {
        // The sound waits in the stream until fresh timing tells when it was captured.
        if (!alignRequest_) {
            alignRequest_ = pa_stream_update_timing_info(stream, &OnAlignTiming, this);
            if (!alignRequest_) Align();  // place it with what is known
        }
        if (!aligned_) return;
    }
    for (;;) {
        const void* data = nullptr;
        size_t length = 0;
        if (pa_stream_peek(stream, &data, &length) < 0) {
            fail_("Cannot read from the sound source: " + connection_.ErrorText());
            return;
        }
        if (length == 0) return;  // nothing more queued
        const pa_usec_t arrival = pa_rtclock_now();
        if (heard_) longestGap_ = std::max(longestGap_, arrival - lastArrival_);
        heard_ = true;
        lastArrival_ = arrival;
        const AudioCaptureTimeline::Share share = timeline_.Accept(length);
        if (share.place > 0) {
            // A hole in the stream (data null) is kept as silence, so time stays in step.
            ring_.Write(data ? static_cast<const uint8_t*>(data) + share.drop : nullptr, share.place);
            timeline_.Placed(share.place);
        }
        pa_stream_drop(stream);
        if (timeline_.Ending() && timeline_.Missing() == 0)
            pa_threaded_mainloop_signal(connection_.Mainloop(), 0);
    }
}

void PulseFragmentPlacement::OnAlignTiming(pa_stream*, int, void* arg) {
    auto* self = static_cast<PulseFragmentPlacement*>(arg);
    if (self->alignRequest_) {  // done: only our reference is left to release
        pa_operation_unref(self->alignRequest_);
        self->alignRequest_ = nullptr;
    }
    if (!self->running_ || self->aligned_) return;
    self->Align();
    self->Consume();
}

void PulseFragmentPlacement::Align() {
    pa_stream* stream = stream_.Get();
    // The stream's latency is the age of the next byte to read: the source's own
    // latency plus whatever waits on the server and in this stream.
    const pa_usec_t now = pa_rtclock_now();
    pa_usec_t latency = 0;
    int negative = 0;
    int64_t captured = static_cast<int64_t>(now);
    if (pa_stream_get_latency(stream, &latency, &negative) == 0) {
        if (!negative) captured -= static_cast<int64_t>(latency);  // sound from the future is taken as now
    } else {
        // No timing: take what waits as the latest sound.
        captured -= static_cast<int64_t>(pa_bytes_to_usec(pa_stream_readable_size(stream), pa_stream_get_sample_spec(stream)));
    }
    const uint64_t silence = timeline_.Align(captured);
    if (silence > 0) {
        ring_.Write(nullptr, static_cast<size_t>(silence));
        timeline_.Placed(silence);
    }
    aligned_ = true;
}

pa_usec_t PulseFragmentPlacement::SourceLatency() const {
    const pa_timing_info* timing = pa_stream_get_timing_info(stream_.Get());
    return timing ? timing->source_usec : 0;
}

void PulseFragmentPlacement::FillSilence(pa_usec_t now) {
    // The source may still deliver sound captured within its latency and one
    // fragment or two in transit; only the time before that is surely silent.
    const pa_usec_t allowance = SourceLatency() + 2 * PulseRecordStream::kFragmentMs * PA_USEC_PER_MSEC;
    if (now <= allowance) return;
    const uint64_t silence = timeline_.SilenceUntil(now - allowance);
    if (silence == 0) return;
    ring_.Write(nullptr, static_cast<size_t>(silence));
    timeline_.Placed(silence);
    aligned_ = false;  // sound that comes after all is placed by its capture time
    if (timeline_.Ending() && timeline_.Missing() == 0) pa_threaded_mainloop_signal(connection_.Mainloop(), 0);
}

bool PulseFragmentPlacement::Silent(pa_usec_t now) const {
    // Nothing since Begin (a monitor whose sink has not rendered yet), a suspended
    // source, or one that has stopped sending for longer than it may lag.
    return !heard_ || pa_stream_is_suspended(stream_.Get()) == 1 ||
           now > lastArrival_ + SourceLatency() + kSilentAfterMs * PA_USEC_PER_MSEC;
}

void PulseFragmentPlacement::OnFillTimer(pa_mainloop_api*, pa_time_event* timer, const struct timeval*, void* arg) {
    auto* self = static_cast<PulseFragmentPlacement*>(arg);
    if (!self->running_) return;
    const pa_usec_t now = pa_rtclock_now();
    if (self->Silent(now)) self->FillSilence(now);
    pa_context_rttime_restart(self->connection_.Context(), timer, now + kFillTickMs * PA_USEC_PER_MSEC);
}

void PulseFragmentPlacement::CancelAlign() {
    if (alignRequest_) {
        pa_operation_cancel(alignRequest_);
        pa_operation_unref(alignRequest_);
        alignRequest_ = nullptr;
    }
}

void PulseFragmentPlacement::EndFill() {
    if (fillTimer_) {
        pa_threaded_mainloop_get_api(connection_.Mainloop())->time_free(fillTimer_);
        fillTimer_ = nullptr;
    }
}

}  // namespace platform
