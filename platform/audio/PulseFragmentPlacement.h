// Places the record stream's fragments on the capture run's time line by the time
// they were captured, not the time they arrived: the stream's timing information
// tells how old the next byte to read is (the source's own latency, which is seconds
// for some sources, plus what is in transit). The time of a source that delivers
// nothing (an idle monitor, a suspended source) is filled with silence, so the
// position keeps pace with the clock.
//
// Runs with the main loop's lock held: the stream's callbacks and the fill timer on
// the main loop thread, the owner's calls on its own.
#pragma once

#include <pulse/pulseaudio.h>

#include <cstdint>
#include <functional>
#include <string>

#include "platform/audio/AudioCaptureRing.h"
#include "platform/audio/AudioCaptureTimeline.h"
#include "platform/audio/PulseConnection.h"
#include "platform/audio/PulseRecordStream.h"

namespace platform {

class PulseFragmentPlacement {
public:
    // How often the silence filler looks at the clock.
    static constexpr uint32_t kFillTickMs = PulseRecordStream::kFragmentMs;
    // A source counts as silent when it has sent nothing for this long beyond its
    // own latency; its time is then filled with silence.
    static constexpr uint32_t kSilentAfterMs = 2000;

    // Takes the stream's read, suspended and overflow callbacks. fail is called (on the
    // main loop thread) when the stream cannot be read.
    PulseFragmentPlacement(PulseConnection& connection, PulseRecordStream& stream, AudioCaptureRing& ring,
                           AudioCaptureTimeline& timeline, std::function<void(std::string)> fail);
    // Ends the timer and a timing request (an answer on its way is not delivered).
    ~PulseFragmentPlacement();
    PulseFragmentPlacement(const PulseFragmentPlacement&) = delete;
    PulseFragmentPlacement& operator=(const PulseFragmentPlacement&) = delete;

    // A run starting at now: the first sound is placed where its capture time lies,
    // and a timer keeps the position moving while the source sends nothing.
    void Begin(pa_usec_t now);
    // The run is over: nothing more is placed, the timer and a timing request end.
    void End();
    bool Running() const { return running_; }

    // Whether the source is taken to send nothing at the moment.
    bool Silent(pa_usec_t now) const;
    // Silence up to now, less the time the source may still deliver, for a source that
    // sends nothing.
    void FillSilence(pa_usec_t now);
    // The source's own latency as last reported (0 when unknown).
    pa_usec_t SourceLatency() const;
    // The longest time between two deliveries of sound seen so far (kept across
    // runs): a source that sends in large blocks may owe that much at a stop.
    pa_usec_t LongestGap() const { return longestGap_; }

private:
    static void OnSuspended(pa_stream* stream, void* self);
    static void OnRead(pa_stream* stream, size_t length, void* self);
    static void OnAlignTiming(pa_stream* stream, int success, void* self);
    static void OnFillTimer(pa_mainloop_api* api, pa_time_event* timer, const struct timeval* tv, void* self);
    // Places what the stream holds on the time line (asks for fresh timing first when
    // the next byte's capture time is not known yet).
    void Consume();
    // Places the next byte by its capture time, from the stream's timing information.
    void Align();
    void CancelAlign();
    void EndFill();

    PulseConnection& connection_;
    PulseRecordStream& stream_;
    AudioCaptureRing& ring_;
    AudioCaptureTimeline& timeline_;
    std::function<void(std::string)> fail_;

    bool running_ = false;
    bool aligned_ = false;  // the next byte's place on the time line is known
    bool heard_ = false;    // sound has arrived since Begin
    pa_operation* alignRequest_ = nullptr;
    pa_usec_t lastArrival_ = 0;
    pa_usec_t longestGap_ = 0;  // pa_rtclock_now() when sound last arrived (or Begin)
    pa_time_event* fillTimer_ = nullptr;
};

}  // namespace platform
