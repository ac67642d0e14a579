#include "platform/audio/PulseRecordStream.h"

#include <algorithm>

namespace platform {

PulseRecordStream::PulseRecordStream(PulseConnection& connection, const pa_sample_spec& sampleType, const pa_channel_map& map) {
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "production");
    stream_ = pa_stream_new_with_proplist(connection.Context(), "Screen recording sound", &sampleType, &map, properties);
    pa_proplist_free(properties);
}

PulseRecordStream::~PulseRecordStream() {
    if (!stream_) return;
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_set_suspended_callback(stream_, nullptr, nullptr);
    pa_stream_set_overflow_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
}

bool PulseRecordStream::Connect(const std::string& source, uint32_t blockAlign) {
    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
    // Small fragments keep the read position moving in steps of tens of milliseconds.
    size_t fragment = pa_usec_to_bytes(kFragmentMs * PA_USEC_PER_MSEC, pa_stream_get_sample_spec(stream_));
    attr.fragsize = static_cast<uint32_t>(std::max<size_t>(fragment - fragment % blockAlign, blockAlign));
    // Timing kept up to date by the server and interpolated in between: it tells when
    // the sound read was captured.
    int flags = PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                PA_STREAM_AUTO_TIMING_UPDATE;
    if (!source.empty()) flags |= PA_STREAM_DONT_MOVE;
    return pa_stream_connect_record(stream_, source.empty() ? nullptr : source.c_str(), &attr,
                                    static_cast<pa_stream_flags_t>(flags)) >= 0;
}

void PulseRecordStream::Discard() {
    const void* data = nullptr;
    size_t length = 0;
    while (pa_stream_peek(stream_, &data, &length) == 0 && length > 0) pa_stream_drop(stream_);
}

}  // namespace platform
