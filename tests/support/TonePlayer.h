// A playback stream into the session's default PulseAudio sink that plays silence
// from its start and a sine tone from the moment it is told to, with a short buffer,
// so the tone sounds within a few tens of milliseconds of that moment. For tests that
// check where a sound lies in a recording against its picture.
#pragma once

#include <atomic>
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
    // Waits (up to ten seconds) until the default sink plays no more than 100 ms ahead.
    // A sink that was idle has rendered seconds ahead; until that time has passed, the
    // timing its monitor reports is stale (latencies of half a second and more), and a
    // recording that starts meanwhile places its sound by that.
    static bool WaitUntilSinkSettles();
    // The tone from the next chunk written on; callable from any thread.
    void StartTone() { tone_.store(true, std::memory_order_release); }
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
    std::thread thread_;
};

}  // namespace testkit
