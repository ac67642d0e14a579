// A capture device over one PulseAudio source: a record stream on the connection's
// threaded main loop fills an AudioCaptureRing in small fragments.
//
// The ring holds the sound by the time it was captured, not the time it arrived:
// the stream's timing information tells how old the next byte to read is (the
// source's own latency, which is seconds for some sources, plus what is in
// transit), so the first sound after Start is placed where its capture time lies
// on the run's time line. Sound captured before Start is dropped, time before the
// first captured sample is silence. Stop ends the run at the instant it is called:
// it waits for the sound captured up to then (still on its way) and keeps nothing
// captured after it. A source that delivers nothing (an idle monitor, a suspended
// source) is followed with silence, so the position keeps pace with the clock.
// When the stream fails (server gone, source removed), every notification event is
// set so a waiting thread wakes, and every later call fails.
#pragma once

#include <pulse/pulseaudio.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/audio/AudioCapture.h"
#include "platform/audio/AudioCaptureTimeline.h"
#include "platform/audio/AudioCaptureRing.h"
#include "platform/audio/PulseConnection.h"

namespace platform {

class PulseCaptureDevice final : public CaptureDevice {
public:
    // Length of one fragment of the record stream.
    static constexpr uint32_t kFragmentMs = 25;
    // How often the silence filler looks at the clock.
    static constexpr uint32_t kFillTickMs = kFragmentMs;
    // A source counts as silent when it has sent nothing for this long beyond its
    // own latency; its time is then filled with silence.
    static constexpr uint32_t kSilentAfterMs = 2000;
    // Longest Stop waits for the sound captured up to its instant.
    static constexpr uint32_t kStopWaitMaxMs = 3000;

    // source: the source's name, empty for the server's default source (the stream
    // then follows the default; a named source is never swapped for another).
    PulseCaptureDevice(std::unique_ptr<PulseConnection> connection, std::string source);
    ~PulseCaptureDevice() override;

    bool GetFormats(uint32_t* formats) override;
    bool CreateBuffer(const WaveFormatEx& format, uint32_t bufferBytes) override;
    bool SetNotificationPositions(const uint32_t* offsets, NamedEvent* const* events, size_t count) override;
    bool Start() override;
    bool Stop() override;
    bool GetReadPosition(uint32_t* position) override;
    bool Lock(uint32_t offset, uint32_t length, void** region1, uint32_t* length1, void** region2,
              uint32_t* length2) override;
    bool Unlock(void* region1, uint32_t length1, void* region2, uint32_t length2) override;
    std::string LastError() const override { return lastError_; }

private:
    static void OnStreamState(pa_stream* stream, void* self);
    static void OnSuspended(pa_stream* stream, void* self);
    static void OnRead(pa_stream* stream, size_t length, void* self);
    static void OnAlignTiming(pa_stream* stream, int success, void* self);
    static bool StreamSettled(void* self);
    static bool StopReached(void* self);
    static void OnFillTimer(pa_mainloop_api* api, pa_time_event* timer, const struct timeval* tv, void* self);
    // Places what the stream holds on the time line (asks for fresh timing first when
    // the next byte's capture time is not known yet).
    void Consume();
    // Drops whatever the stream holds.
    void Discard();
    // Places the next byte by its capture time, from the stream's timing information.
    void Align();
    // The source's own latency as last reported (0 when unknown).
    pa_usec_t SourceLatency() const;
    // Whether the source is taken to send nothing at the moment.
    bool Silent(pa_usec_t now) const;
    // Silence up to now, less the time the source may still deliver, for a source that
    // sends nothing.
    void FillSilence(pa_usec_t now);
    void CancelAlign();
    void EndFill();

    bool Error(std::string text);
    // Fails (copying the reason) when the stream has failed. Call with the lock held.
    bool CheckHealthy();
    // On the main loop thread: the stream is lost.
    void Fail(std::string reason);

    std::unique_ptr<PulseConnection> connection_;
    std::string source_;
    pa_stream* stream_ = nullptr;
    std::unique_ptr<AudioCaptureRing> ring_;
    uint32_t blockAlign_ = 1;

    // Shared with the main loop thread; guarded by the main loop's lock.
    bool running_ = false;
    bool closing_ = false;
    bool aligned_ = false;  // the next byte's place on the time line is known
    bool heard_ = false;    // sound has arrived since Start
    pa_operation* alignRequest_ = nullptr;
    pa_usec_t lastArrival_ = 0;  // pa_rtclock_now() when sound last arrived (or Start)
    pa_time_event* fillTimer_ = nullptr;
    std::unique_ptr<AudioCaptureTimeline> timeline_;
    std::string failReason_;

    std::atomic<bool> failed_{false};
    int locked_ = 0;  // Lock calls not yet matched by Unlock (each holds the main loop's lock)
    std::string lastError_;
};

}  // namespace platform
