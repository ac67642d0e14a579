// A capture device over one PulseAudio source: a record stream (PulseRecordStream) on
// the connection's threaded main loop fills an AudioCaptureRing in small fragments,
// each placed by the time it was captured (PulseFragmentPlacement).
//
// Sound captured before Start is dropped, time before the first captured sample is
// silence. Stop ends the run at the instant it is called: it waits for the sound
// captured up to then (still on its way) and keeps nothing captured after it. When
// the stream fails (server gone, source removed), every notification event is set
// so a waiting thread wakes, and every later call fails.
#pragma once

#include <pulse/pulseaudio.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/audio/AudioCapture.h"
#include "platform/audio/AudioCaptureRing.h"
#include "platform/audio/AudioCaptureTimeline.h"
#include "platform/audio/PulseConnection.h"
#include "platform/audio/PulseFragmentPlacement.h"
#include "platform/audio/PulseRecordStream.h"

namespace platform {

class PulseCaptureDevice final : public CaptureDevice {
public:
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
    bool StartAt(uint64_t instantUs) override;
    bool EndRunAt(uint64_t instantUs) override;
    bool GetReadPosition(uint32_t* position) override;
    bool GetCapturedPosition(uint32_t* position) override;
    bool Lock(uint32_t offset, uint32_t length, void** region1, uint32_t* length1, void** region2,
              uint32_t* length2) override;
    bool Unlock(void* region1, uint32_t length1, void* region2, uint32_t length2) override;
    std::string LastError() const override { return lastError_; }

private:
    static void OnStreamState(pa_stream* stream, void* self);
    static bool StreamSettled(void* self);
    static bool StopReached(void* self);

    bool Error(std::string text);
    // Fails (copying the reason) when the stream has failed. Call with the lock held.
    bool CheckHealthy();
    // On the main loop thread: the stream is lost.
    void Fail(std::string reason);

    std::unique_ptr<PulseConnection> connection_;
    std::string source_;
    std::unique_ptr<PulseRecordStream> stream_;
    std::unique_ptr<AudioCaptureRing> ring_;
    uint32_t blockAlign_ = 1;

    // Shared with the main loop thread; guarded by the main loop's lock.
    std::unique_ptr<AudioCaptureTimeline> timeline_;
    std::unique_ptr<PulseFragmentPlacement> placement_;  // exists with the stream
    bool closing_ = false;
    std::string failReason_;

    std::atomic<bool> failed_{false};
    int locked_ = 0;  // Lock calls not yet matched by Unlock (each holds the main loop's lock)
    std::string lastError_;
};

}  // namespace platform
