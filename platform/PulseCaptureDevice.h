// A capture device over one PulseAudio source: a record stream on the connection's
// threaded main loop fills an AudioCaptureRing in small fragments.
//
// Start uncorks the stream (after dropping anything left from before), Stop first
// waits for the sound the source had captured up to that moment, then corks it, so a
// pause keeps its last fragment and nothing after it enters the ring. When the stream
// fails (server gone, source removed), every notification event is set so a waiting
// thread wakes, and every later call fails.
#pragma once

#include <pulse/pulseaudio.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/AudioCapture.h"
#include "platform/AudioCaptureRing.h"
#include "platform/PulseConnection.h"

namespace platform {

class PulseCaptureDevice final : public CaptureDevice {
public:
    // Length of one fragment of the record stream.
    static constexpr uint32_t kFragmentMs = 25;
    // When the first sound comes later than this after Start, the wait is filled with
    // silence (a null sink's monitor, for one, starts only when its sink renders next,
    // which can be seconds away), so the ring's position keeps in step with the clock.
    static constexpr uint32_t kLateStartMs = 2 * kFragmentMs;
    // Most sound Stop still takes after the moment it is called (what the source had
    // captured but not yet delivered), and the longest it waits for it.
    static constexpr uint32_t kStopKeepMaxMs = 500;
    static constexpr uint32_t kStopWaitMaxMs = 1000;

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
    static void OnRead(pa_stream* stream, size_t length, void* self);
    static bool StreamSettled(void* self);
    static bool StopReached(void* self);
    static void OnGapTimer(pa_mainloop_api* api, pa_time_event* timer, const struct timeval* tv, void* self);
    // Writes the silence for the time since Start that the source has not delivered,
    // given the duration of what has arrived but not been written yet.
    void FillGap(pa_usec_t arrived);
    void EndGap();

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
    bool stopping_ = false;
    bool closing_ = false;
    bool awaitingFirst_ = false;  // no sound received since Start
    pa_usec_t startedAt_ = 0;     // pa_rtclock_now() at Start
    pa_time_event* gapTimer_ = nullptr;
    uint64_t received_ = 0;
    uint64_t stopTarget_ = 0;
    std::string failReason_;

    std::atomic<bool> failed_{false};
    int locked_ = 0;  // Lock calls not yet matched by Unlock (each holds the main loop's lock)
    std::string lastError_;
};

}  // namespace platform
