// One record stream on the connection's context, in the capture buffer's sample
// format and channel layout: connected corked in small fragments, with timing kept
// up to date by the server, and torn down (its callbacks cleared first) when the
// object goes. Use with the main loop's lock held.
#pragma once

#include <pulse/pulseaudio.h>

#include <cstdint>
#include <string>

#include "platform/audio/PulseConnection.h"

namespace platform {

class PulseRecordStream {
public:
    // Length of one fragment of the stream.
    static constexpr uint32_t kFragmentMs = 25;

    // A new stream, not connected yet; Get() is null when the server made none.
    PulseRecordStream(PulseConnection& connection, const pa_sample_spec& sampleType, const pa_channel_map& map);
    ~PulseRecordStream();
    PulseRecordStream(const PulseRecordStream&) = delete;
    PulseRecordStream& operator=(const PulseRecordStream&) = delete;

    pa_stream* Get() const { return stream_; }

    // Connects to the source of that name, or the server's default when empty (then
    // following the default; a named source is never swapped for another), in
    // fragments of whole blocks of blockAlign bytes. False when the server refuses.
    bool Connect(const std::string& source, uint32_t blockAlign);
    // Drops whatever the stream holds.
    void Discard();

private:
    pa_stream* stream_;
};

}  // namespace platform
