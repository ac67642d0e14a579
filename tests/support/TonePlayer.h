// A playback stream into the session's default PulseAudio sink that plays silence
// from its start and a sine tone from the moment it is told to, with a short buffer,
// so the tone sounds within a few tens of milliseconds of being written. For tests that
// check where a sound lies in a recording against its picture.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

struct pa_simple;

namespace testkit {

class TonePlayer {
public:
    explicit TonePlayer(int hz = 440, double amplitude = 0.5);
    ~TonePlayer();  // stops the stream
    TonePlayer(const TonePlayer&) = delete;
    TonePlayer& operator=(const TonePlayer&) = delete;

    // False when the stream could not be made; Error() says why.
    bool Playing() const { return stream_ != nullptr; }
    const std::string& Error() const { return error_; }
    // The tone from the next chunk written on; callable from any thread.
    void StartTone()
    {
        toldAt_.store(std::chrono::steady_clock::now().time_since_epoch().count());
        tone_.store(true, std::memory_order_release);
    }
    // Seconds between StartTone and writing the tone's first sample. A sink takes
    // nothing while it is ahead of the clock: one that was idle has rendered up to
    // seconds of silence ahead, and the writer waits until that time has passed, so
    // the tone really begins that much later.
    double HeldBack() const { return heldBack_.load(); }
    // Seconds between writing a sample and hearing it, as the server measured it when
    // the tone began (0 before then).
    double LatencyAtTone() const { return latencyAtTone_.load(); }

private:
    void Run();

    pa_simple* stream_ = nullptr;
    std::string error_;
    int hz_;
    double amplitude_;
    std::atomic<bool> tone_{false};
    std::atomic<bool> stop_{false};
    std::atomic<double> latencyAtTone_{0};
    std::atomic<std::chrono::steady_clock::rep> toldAt_{0};
    std::atomic<double> heldBack_{0};
    std::thread thread_;
};

}  // namespace testkit
