// links: pulse-simple PkgConfig::PULSE
#include "tests/support/TonePlayer.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace testkit {

namespace {

constexpr int kRate = 44100;
constexpr int kChannels = 2;
constexpr int kChunkFrames = kRate / 200;  // 5 ms

}  // namespace

TonePlayer::TonePlayer(int hz, double amplitude) : hz_(hz), amplitude_(amplitude)
{
    const pa_sample_spec format{PA_SAMPLE_S16LE, kRate, kChannels};
    const uint32_t bytesPerMs = kRate * kChannels * 2 / 1000;
    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = 30 * bytesPerMs;  // what the server keeps queued ahead of playing
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = 5 * bytesPerMs;
    attr.fragsize = static_cast<uint32_t>(-1);
    int error = 0;
    stream_ = pa_simple_new(nullptr, "tavrec-test", PA_STREAM_PLAYBACK, nullptr, "tone", &format, nullptr, &attr,
                            &error);
    if (!stream_) {
        error_ = std::string("cannot open a playback stream: ") + pa_strerror(error);
        return;
    }
    thread_ = std::thread([this] { Run(); });
}

TonePlayer::~TonePlayer()
{
    stop_.store(true);
    if (thread_.joinable())
        thread_.join();
    if (stream_)
        pa_simple_free(stream_);
}

void TonePlayer::Run()
{
    std::vector<int16_t> chunk(static_cast<size_t>(kChunkFrames) * kChannels);
    uint64_t toneFrames = 0;
    bool sounding = false;
    while (!stop_.load()) {
        if (!sounding && tone_.load(std::memory_order_acquire)) {
            sounding = true;
            const auto told = std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(toldAt_.load()));
            heldBack_.store(std::chrono::duration<double>(std::chrono::steady_clock::now() - told).count());
            int error = 0;
            const pa_usec_t latency = pa_simple_get_latency(stream_, &error);
            latencyAtTone_.store(latency == static_cast<pa_usec_t>(-1) ? 0 : latency / 1e6);
        }
        for (int i = 0; i < kChunkFrames; ++i) {
            int16_t value = 0;
            if (sounding) {
                const double t = static_cast<double>(toneFrames++) / kRate;
                value = static_cast<int16_t>(std::lround(amplitude_ * 32767 * std::sin(2 * M_PI * hz_ * t)));
            }
            for (int c = 0; c < kChannels; ++c)
                chunk[static_cast<size_t>(i) * kChannels + c] = value;
        }
        int error = 0;
        if (pa_simple_write(stream_, chunk.data(), chunk.size() * sizeof(int16_t), &error) < 0)
            return;  // the server went away: the recording then has no tone, which the test sees
    }
}

}  // namespace testkit
