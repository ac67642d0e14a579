// links: tavrec_platform_audio tavrec_platform_sync tavrec_support_MediaProbe
// Sound capture from the session's PulseAudio server: the device list, a tone played
// into the null sink and recorded from its monitor, the capture buffer's positions,
// regions and notifications, and the failures (no such source, a source that goes
// away, no server at all). Runs inside tests/desktop-session.sh.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/AudioCapture.h"
#include "platform/audio/AudioCaptureRing.h"
#include "platform/sync/NamedEvent.h"
#include "tests/support/MediaProbe.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using platform::AudioCapture;
using platform::CaptureDevice;
using platform::NamedEvent;

constexpr const char* kMonitor = "session_sink.monitor";
// Hang guard only: a wait that should end within a second or two gives up after this.
constexpr uint32_t kGuardMs = 15000;

WaveFormatEx Pcm(uint32_t rate, uint16_t channels, uint16_t bits) {
    WaveFormatEx f{};
    f.wFormatTag = 1;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = bits;
    f.nBlockAlign = static_cast<uint16_t>(channels * bits / 8);
    f.nAvgBytesPerSec = f.nBlockAlign * rate;
    return f;
}

// A program started in the background and reaped (or stopped by its id) at the end.
class Child {
public:
    explicit Child(const std::vector<std::string>& argv) {
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        if (posix_spawnp(&pid_, args[0], nullptr, nullptr, args.data(), environ) != 0) pid_ = -1;
    }
    ~Child() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        Wait();
    }
    bool Started() const { return pid_ > 0; }
    // True once the program has ended (it is then reaped).
    bool Done() {
        if (pid_ <= 0) return true;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
        pid_ = -1;
        return true;
    }
    int Wait() {
        if (pid_ <= 0) return -1;
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
};

int RunTool(const std::vector<std::string>& argv, std::string* out = nullptr) {
    int code = -1;
    std::string text = testkit::RunCapture(argv, &code);
    if (out) *out = text;
    return code;
}

// A capture device with its ring drained into a growing byte vector, the way the
// capture thread copies out up to the read position.
struct Capture {
    // The events outlive the device, which sets them from its own thread.
    std::vector<std::unique_ptr<NamedEvent>> events;
    std::unique_ptr<CaptureDevice> device;
    WaveFormatEx format{};
    uint32_t size = 0;
    uint32_t lastRead = 0;
    std::vector<uint8_t> bytes;

    bool Open(const std::string& id, const WaveFormatEx& f, uint32_t bufferBytes, std::vector<uint32_t> offsets) {
        std::string error;
        device = AudioCapture::Open(id, &error);
        EXPECT_TRUE(device) << error;
        if (!device) return false;
        format = f;
        size = bufferBytes;
        EXPECT_TRUE(device->CreateBuffer(f, bufferBytes)) << device->LastError();
        std::vector<NamedEvent*> raw;
        for (size_t i = 0; i < offsets.size(); ++i) {
            events.push_back(NamedEvent::CreateUnnamed(false));
            raw.push_back(events.back().get());
        }
        EXPECT_TRUE(device->SetNotificationPositions(offsets.data(), raw.data(), raw.size())) << device->LastError();
        return !::testing::Test::HasFailure();
    }
    // Copies everything up to the read position; false when a call fails.
    bool Drain() {
        uint32_t position = 0;
        if (!device->GetReadPosition(&position)) return false;
        uint32_t available = (position + size - lastRead) % size;
        available -= available % format.nBlockAlign;
        if (available == 0) return true;
        void *r1 = nullptr, *r2 = nullptr;
        uint32_t l1 = 0, l2 = 0;
        if (!device->Lock(lastRead, available, &r1, &l1, &r2, &l2)) return false;
        const uint8_t* p1 = static_cast<uint8_t*>(r1);
        const uint8_t* p2 = static_cast<uint8_t*>(r2);
        bytes.insert(bytes.end(), p1, p1 + l1);
        if (r2) bytes.insert(bytes.end(), p2, p2 + l2);
        lastRead = (lastRead + l1 + l2) % size;
        return device->Unlock(r1, l1, r2, l2);
    }
    std::vector<NamedEvent*> Raw() const {
        std::vector<NamedEvent*> raw;
        for (const auto& e : events) raw.push_back(e.get());
        return raw;
    }
};

// Samples of one channel as values in [-1, 1].
std::vector<double> Channel(const std::vector<uint8_t>& bytes, const WaveFormatEx& f, int channel) {
    std::vector<double> out;
    const size_t frames = bytes.size() / f.nBlockAlign;
    out.reserve(frames);
    for (size_t i = 0; i < frames; ++i) {
        const uint8_t* p = bytes.data() + i * f.nBlockAlign + channel * (f.wBitsPerSample / 8);
        if (f.wBitsPerSample == 8) {
            out.push_back((static_cast<int>(p[0]) - 128) / 128.0);
        } else {
            int16_t v;
            std::memcpy(&v, p, 2);
            out.push_back(v / 32768.0);
        }
    }
    return out;
}

struct ToneFacts {
    double frequency = 0;  // Hz, from the rising zero crossings of the loud part
    double peak = 0;       // largest magnitude in the loud part
    size_t loudSamples = 0;
};

// The part of the signal louder than a tenth of full scale, measured.
ToneFacts Measure(const std::vector<double>& x, uint32_t rate) {
    ToneFacts facts;
    size_t first = x.size(), last = 0;
    for (size_t i = 0; i < x.size(); ++i)
        if (std::fabs(x[i]) > 0.1) {
            first = std::min(first, i);
            last = i;
        }
    if (first >= last) return facts;
    // Leave out the edges, where the tone fades in or out.
    const size_t margin = rate / 20;
    if (last - first <= 2 * margin) return facts;
    first += margin;
    last -= margin;
    facts.loudSamples = last - first;
    double firstCrossing = -1, lastCrossing = -1;
    int crossings = 0;
    for (size_t i = first; i + 1 <= last; ++i) {
        facts.peak = std::max(facts.peak, std::fabs(x[i]));
        if (x[i] < 0 && x[i + 1] >= 0) {
            double at = i + (-x[i]) / (x[i + 1] - x[i]);
            if (firstCrossing < 0) firstCrossing = at;
            lastCrossing = at;
            ++crossings;
        }
    }
    if (crossings >= 2) facts.frequency = (crossings - 1) * static_cast<double>(rate) / (lastCrossing - firstCrossing);
    return facts;
}

double Rms(const std::vector<double>& x) {
    double sum = 0;
    for (double v : x) sum += v * v;
    return x.empty() ? 0 : std::sqrt(sum / x.size());
}

class AudioCaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(std::getenv("TAVREC_SESSION_DIR"), nullptr)
            << "run this test inside tests/desktop-session.sh (it needs the session's PulseAudio)";
    }
    // A sox-made stereo 440 Hz tone at half of full scale.
    std::string ToneFile(double seconds) {
        std::string path = dir_.File("tone" + std::to_string(files_++) + ".wav");
        EXPECT_EQ(RunTool({"sox", "-n", "-r", "44100", "-c", "2", "-b", "16", path, "synth", std::to_string(seconds),
                       "sine", "440", "gain", "-6"}),
                  0);
        return path;
    }
    testkit::TempDir dir_;
    int files_ = 0;
};

TEST_F(AudioCaptureTest, ListsTheDefaultFirstThenEverySourceInTheServersOrder) {
    std::vector<platform::AudioDevice> devices;
    std::string error;
    ASSERT_TRUE(AudioCapture::EnumerateDevices(&devices, &error)) << error;
    ASSERT_GE(devices.size(), 2u);
    EXPECT_EQ(devices[0].id, "");
    EXPECT_EQ(devices[0].description, "Default source");

    std::string listed;
    ASSERT_EQ(RunTool({"pactl", "list", "short", "sources"}, &listed), 0);
    std::vector<std::string> names;
    for (size_t at = 0; at < listed.size();) {
        size_t end = listed.find('\n', at);
        if (end == std::string::npos) end = listed.size();
        std::string line = listed.substr(at, end - at);
        size_t tab = line.find('\t');
        if (tab != std::string::npos) names.push_back(line.substr(tab + 1, line.find('\t', tab + 1) - tab - 1));
        at = end + 1;
    }
    ASSERT_EQ(devices.size(), names.size() + 1);
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(devices[i + 1].id, names[i]);
        EXPECT_FALSE(devices[i + 1].id.empty());
    }
    EXPECT_EQ(devices[1].id, kMonitor);
    EXPECT_EQ(devices[1].description, "Monitor of Session_Null_Output");
}

TEST_F(AudioCaptureTest, EverySourceOffersTheTwelveFormats) {
    for (const std::string& id : {std::string(), std::string(kMonitor)}) {
        std::string error;
        auto device = AudioCapture::Open(id, &error);
        ASSERT_TRUE(device) << error;
        uint32_t formats = 0;
        ASSERT_TRUE(device->GetFormats(&formats));
        EXPECT_EQ(formats, 0xFFFu) << "source '" << id << "'";
    }
}

// The tone played into the null sink comes back from its monitor: 22050 Hz, stereo,
// 16-bit into a four-second ring, drained as the capture thread drains it.
TEST_F(AudioCaptureTest, RecordsAToneFromTheMonitorInSmallSteps) {
    const WaveFormatEx f = Pcm(22050, 2, 16);
    const uint32_t second = f.nAvgBytesPerSec;
    Capture c;
    ASSERT_TRUE(c.Open(kMonitor, f, 4 * second, {0, second, 2 * second, 3 * second}));
    std::string tone = ToneFile(2.0);
    ASSERT_TRUE(c.device->Start()) << c.device->LastError();

    std::set<uint32_t> positions;
    uint32_t position = 0;
    // A second of polling before the tone: the position moves in many small steps.
    const uint64_t before = c.bytes.size();
    while (c.bytes.size() - before < second) {
        ASSERT_TRUE(c.device->GetReadPosition(&position)) << c.device->LastError();
        positions.insert(position);
        ASSERT_TRUE(c.Drain()) << c.device->LastError();
        std::this_thread::sleep_for(2ms);
    }
    EXPECT_GE(positions.size(), 5u) << "the read position should advance in small fragments";

    {
        Child player({"paplay", tone});
        ASSERT_TRUE(player.Started());
        auto raw = c.Raw();
        // paplay ends a while after the last sound has been played.
        while (true) {
            int index = NamedEvent::WaitAny(raw.data(), raw.size(), kGuardMs);
            ASSERT_GE(index, 0) << "no notification arrived";
            ASSERT_TRUE(c.Drain()) << c.device->LastError();
            if (player.Done() || c.bytes.size() > 12u * second) break;
        }
    }
    ASSERT_TRUE(c.device->Stop()) << c.device->LastError();
    ASSERT_TRUE(c.Drain());

    for (int channel = 0; channel < 2; ++channel) {
        ToneFacts facts = Measure(Channel(c.bytes, f, channel), f.nSamplesPerSec);
        SCOPED_TRACE("channel " + std::to_string(channel));
        EXPECT_GT(facts.loudSamples, f.nSamplesPerSec) << "less than a second of the two-second tone";
        EXPECT_NEAR(facts.frequency, 440.0, 440.0 * 0.02);
        EXPECT_GT(facts.peak, 0.35);  // played at 0.5 of full scale
        EXPECT_LT(facts.peak, 0.65);
    }
}

TEST_F(AudioCaptureTest, RecordsEightBitMonoAt11025) {
    const WaveFormatEx f = Pcm(11025, 1, 8);
    Capture c;
    ASSERT_TRUE(c.Open(kMonitor, f, 2 * f.nAvgBytesPerSec, {0, f.nAvgBytesPerSec / 2, f.nAvgBytesPerSec,
                                                            3 * f.nAvgBytesPerSec / 2}));
    std::string tone = ToneFile(1.5);
    ASSERT_TRUE(c.device->Start());
    auto raw = c.Raw();
    while (c.bytes.size() < f.nAvgBytesPerSec / 4) {  // some silence first
        ASSERT_TRUE(c.Drain()) << c.device->LastError();
        std::this_thread::sleep_for(5ms);
    }
    {
        Child player({"paplay", tone});
        ASSERT_TRUE(player.Started());
        while (c.bytes.size() < 4 * f.nAvgBytesPerSec) {
            ASSERT_GE(NamedEvent::WaitAny(raw.data(), raw.size(), kGuardMs), 0);
            ASSERT_TRUE(c.Drain()) << c.device->LastError();
        }
    }
    ASSERT_TRUE(c.device->Stop());
    std::vector<double> x = Channel(c.bytes, f, 0);
    ToneFacts facts = Measure(x, f.nSamplesPerSec);
    EXPECT_GT(facts.loudSamples, f.nSamplesPerSec);
    EXPECT_NEAR(facts.frequency, 440.0, 440.0 * 0.02);
    EXPECT_GT(facts.peak, 0.35);
    EXPECT_LT(facts.peak, 0.65);
    // Unsigned 8-bit: silence sits at 128, so the quiet start reads as zero here.
    std::vector<double> start(x.begin(), x.begin() + std::min<size_t>(x.size(), 200));
    EXPECT_LT(Rms(start), 0.02);
}

TEST_F(AudioCaptureTest, LockGivesOneRegionOrTwoWhenTheRangeWraps) {
    const WaveFormatEx f = Pcm(22050, 2, 16);
    const uint32_t size = f.nAvgBytesPerSec;
    Capture c;
    ASSERT_TRUE(c.Open(kMonitor, f, size, {}));
    auto* base = [&] {
        void *r1, *r2;
        uint32_t l1, l2;
        EXPECT_TRUE(c.device->Lock(0, size, &r1, &l1, &r2, &l2));
        EXPECT_EQ(l1, size);
        EXPECT_EQ(r2, nullptr);
        EXPECT_EQ(l2, 0u);
        EXPECT_TRUE(c.device->Unlock(r1, l1, r2, l2));
        return static_cast<uint8_t*>(r1);
    }();

    void *r1, *r2;
    uint32_t l1, l2;
    ASSERT_TRUE(c.device->Lock(size - 100, 300, &r1, &l1, &r2, &l2));
    EXPECT_EQ(r1, base + size - 100);
    EXPECT_EQ(l1, 100u);
    EXPECT_EQ(r2, base);
    EXPECT_EQ(l2, 200u);
    EXPECT_EQ(l1 + l2, 300u);
    EXPECT_TRUE(c.device->Unlock(r1, l1, r2, l2));

    ASSERT_TRUE(c.device->Lock(400, 800, &r1, &l1, &r2, &l2));
    EXPECT_EQ(r1, base + 400);
    EXPECT_EQ(l1, 800u);
    EXPECT_EQ(r2, nullptr);
    EXPECT_TRUE(c.device->Unlock(r1, l1, r2, l2));

    EXPECT_FALSE(c.device->Lock(size, 4, &r1, &l1, &r2, &l2));
    EXPECT_FALSE(c.device->Lock(0, size + 4, &r1, &l1, &r2, &l2));
    EXPECT_FALSE(c.device->Unlock(r1, l1, r2, l2)) << "an Unlock without its Lock";
    // Start and Stop wait for the server, which cannot fill while a region is locked.
    ASSERT_TRUE(c.device->Lock(0, 4, &r1, &l1, &r2, &l2));
    EXPECT_FALSE(c.device->Start());
    EXPECT_TRUE(c.device->Unlock(r1, l1, r2, l2));
    EXPECT_TRUE(c.device->Start()) << c.device->LastError();
    EXPECT_TRUE(c.device->Stop()) << c.device->LastError();
    EXPECT_FALSE(c.device->LastError().empty());
}

// On the first lap an event is set exactly when the position has passed its offset;
// offset 0 is passed when the ring wraps; a stop offset fires at each Stop.
TEST_F(AudioCaptureTest, NotificationsFireAsThePositionPassesTheirOffsets) {
    const WaveFormatEx f = Pcm(11025, 1, 8);
    const uint32_t second = f.nAvgBytesPerSec;
    const uint32_t size = 6 * second;
    std::vector<uint32_t> offsets = {0, second, 2 * second, 4 * second, 5 * second, platform::AudioCaptureRing::kOffsetStop};
    Capture c;
    ASSERT_TRUE(c.Open(kMonitor, f, size, offsets));
    ASSERT_TRUE(c.device->Start());
    uint32_t position = 0;
    while (position < 3 * second / 2) {
        ASSERT_TRUE(c.device->GetReadPosition(&position));
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_TRUE(c.device->Stop());
    ASSERT_TRUE(c.device->GetReadPosition(&position));
    ASSERT_LT(position, 4 * second) << "stopped too late to tell the offsets apart";
    EXPECT_EQ(c.events[0]->State(), 0) << "offset 0 before the ring wrapped";
    EXPECT_EQ(c.events[1]->State(), 1);
    EXPECT_EQ(c.events[2]->State(), position >= 2 * second ? 1 : 0);
    EXPECT_EQ(c.events[3]->State(), 0);
    EXPECT_EQ(c.events[4]->State(), 0);
    EXPECT_EQ(c.events[5]->State(), 1) << "the stop offset fires at Stop";
    for (auto& e : c.events) e->Reset();

    // Running on until the ring wraps: the events of the rest of the lap fire, then
    // the one at offset 0.
    ASSERT_TRUE(c.device->Start());
    ASSERT_EQ(c.events[0]->Wait(kGuardMs), NamedEvent::WaitResult::Signaled);
    ASSERT_TRUE(c.device->Stop());
    EXPECT_EQ(c.events[3]->State(), 1);
    EXPECT_EQ(c.events[4]->State(), 1);
    EXPECT_EQ(c.events[5]->State(), 1);
}

TEST_F(AudioCaptureTest, StopHoldsThePositionAndSoundWhileStoppedIsNeverCaptured) {
    const WaveFormatEx f = Pcm(22050, 2, 16);
    const uint32_t second = f.nAvgBytesPerSec;
    Capture c;
    ASSERT_TRUE(c.Open(kMonitor, f, 8 * second, {0, second, 2 * second, 3 * second, 4 * second, 5 * second,
                                                 6 * second, 7 * second}));
    ASSERT_TRUE(c.device->Start());
    uint32_t position = 0;
    while (position < second / 4) {
        ASSERT_TRUE(c.device->GetReadPosition(&position));
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_TRUE(c.device->Stop());
    ASSERT_TRUE(c.Drain());
    uint32_t stopped = 0;
    ASSERT_TRUE(c.device->GetReadPosition(&stopped));

    // A tone played in full while the capture is stopped.
    Child player({"paplay", ToneFile(1.0)});
    ASSERT_TRUE(player.Started());
    EXPECT_EQ(player.Wait(), 0);
    ASSERT_TRUE(c.device->GetReadPosition(&position));
    EXPECT_EQ(position, stopped) << "the position moved while stopped";
    const size_t beforeStart = c.bytes.size();

    ASSERT_TRUE(c.device->Start());
    auto raw = c.Raw();
    while (c.bytes.size() < beforeStart + second) {
        ASSERT_GE(NamedEvent::WaitAny(raw.data(), raw.size(), kGuardMs), 0);
        ASSERT_TRUE(c.Drain());
    }
    ASSERT_TRUE(c.device->Stop());
    ASSERT_TRUE(c.Drain());
    std::vector<uint8_t> after(c.bytes.begin() + beforeStart, c.bytes.end());
    EXPECT_LT(Rms(Channel(after, f, 0)), 0.01) << "sound from before Start entered the buffer";
}

// A sink that has just been loaded renders seconds ahead, so its monitor sends
// nothing for a while after Start: that time still counts, as silence, so what is
// captured lasts as long as the capture ran. (Loose bounds around the two moments
// measured outside Start and Stop; a busy machine only widens the outer one.)
TEST_F(AudioCaptureTest, AFreshMonitorStillKeepsInStepWithTheClock) {
    std::string module;
    ASSERT_EQ(RunTool({"pactl", "load-module", "module-null-sink", "sink_name=fresh"}, &module), 0);
    module.erase(module.find_last_not_of(" \n") + 1);
    const WaveFormatEx f = Pcm(22050, 2, 16);
    Capture c;
    bool opened = c.Open("fresh.monitor", f, 8 * f.nAvgBytesPerSec, {0, 2 * f.nAvgBytesPerSec, 4 * f.nAvgBytesPerSec,
                                                                   6 * f.nAvgBytesPerSec});
    if (opened) {
        auto outerStart = std::chrono::steady_clock::now();
        EXPECT_TRUE(c.device->Start());
        auto innerStart = std::chrono::steady_clock::now();
        uint32_t position = 0;
        std::set<uint32_t> seen;
        while (std::chrono::steady_clock::now() - innerStart < 3s) {
            EXPECT_TRUE(c.device->GetReadPosition(&position));
            seen.insert(position);
            EXPECT_TRUE(c.Drain());
            std::this_thread::sleep_for(10ms);
        }
        auto innerStop = std::chrono::steady_clock::now();
        EXPECT_TRUE(c.device->Stop());
        auto outerStop = std::chrono::steady_clock::now();
        EXPECT_TRUE(c.Drain());
        const double seconds = static_cast<double>(c.bytes.size()) / f.nAvgBytesPerSec;
        const double inner = std::chrono::duration<double>(innerStop - innerStart).count();
        const double outer = std::chrono::duration<double>(outerStop - outerStart).count();
        EXPECT_GT(seconds, inner - 0.3);
        EXPECT_LT(seconds, outer + 0.1);
        EXPECT_GE(seen.size(), 10u) << "the position should move even while the source sends nothing";
    }
    EXPECT_EQ(RunTool({"pactl", "unload-module", module}), 0);
}

// A source that is not a monitor (a sine generator standing in for a microphone):
// its sound is captured, and Stop takes what it still had on the way.
TEST_F(AudioCaptureTest, RecordsASourceThatIsNotAMonitor) {
    std::string module;
    ASSERT_EQ(RunTool({"pactl", "load-module", "module-sine-source", "source_name=sine_mic", "frequency=440"}, &module), 0);
    module.erase(module.find_last_not_of(" \n") + 1);
    const WaveFormatEx f = Pcm(44100, 1, 16);
    Capture c;
    if (c.Open("sine_mic", f, 4 * f.nAvgBytesPerSec, {0, f.nAvgBytesPerSec, 2 * f.nAvgBytesPerSec, 3 * f.nAvgBytesPerSec})) {
        EXPECT_TRUE(c.device->Start());
        auto raw = c.Raw();
        while (c.bytes.size() < 2 * f.nAvgBytesPerSec && !HasFailure()) {
            EXPECT_GE(NamedEvent::WaitAny(raw.data(), raw.size(), kGuardMs), 0);
            EXPECT_TRUE(c.Drain());
        }
        EXPECT_TRUE(c.device->Stop()) << c.device->LastError();
        EXPECT_TRUE(c.Drain());
        ToneFacts facts = Measure(Channel(c.bytes, f, 0), f.nSamplesPerSec);
        EXPECT_NEAR(facts.frequency, 440.0, 440.0 * 0.02);
        EXPECT_GT(facts.peak, 0.05);
    }
    EXPECT_EQ(RunTool({"pactl", "unload-module", module}), 0);
}

TEST_F(AudioCaptureTest, RefusesFormatsItCannotRecord) {
    auto device = AudioCapture::Open(kMonitor);
    ASSERT_TRUE(device);
    WaveFormatEx odd = Pcm(22050, 2, 16);
    odd.nBlockAlign = 3;
    EXPECT_FALSE(device->CreateBuffer(odd, 88200));
    EXPECT_NE(device->LastError().find("nBlockAlign"), std::string::npos) << device->LastError();
    WaveFormatEx twelve = Pcm(22050, 1, 12);
    EXPECT_FALSE(device->CreateBuffer(twelve, 88200));
    WaveFormatEx notPcm = Pcm(22050, 2, 16);
    notPcm.wFormatTag = 2;
    EXPECT_FALSE(device->CreateBuffer(notPcm, 88200));
    // Other rates and sizes than the twelve listed still record.
    ASSERT_TRUE(device->CreateBuffer(Pcm(48000, 2, 32), 48000 * 8)) << device->LastError();
    EXPECT_FALSE(device->CreateBuffer(Pcm(22050, 2, 16), 88200)) << "a second buffer on the same device";
}

TEST_F(AudioCaptureTest, OpeningASourceThatDoesNotExistFails) {
    std::string error;
    EXPECT_EQ(AudioCapture::Open("no_such_source.monitor", &error), nullptr);
    EXPECT_NE(error.find("no_such_source.monitor"), std::string::npos) << error;
}

// A source removed during capture: the waiting thread wakes, and the next call fails.
TEST_F(AudioCaptureTest, ASourceThatVanishesFailsTheNextCallInsteadOfHanging) {
    std::string module;
    ASSERT_EQ(RunTool({"pactl", "load-module", "module-null-sink", "sink_name=vanishing",
                   "sink_properties=device.description=Vanishing"},
                  &module),
              0);
    module.erase(module.find_last_not_of(" \n") + 1);
    ASSERT_FALSE(module.empty());

    const WaveFormatEx f = Pcm(22050, 2, 16);
    Capture c;
    bool opened = c.Open("vanishing.monitor", f, 4 * f.nAvgBytesPerSec,
                         {0, f.nAvgBytesPerSec, 2 * f.nAvgBytesPerSec, 3 * f.nAvgBytesPerSec});
    if (!opened) RunTool({"pactl", "unload-module", module});
    ASSERT_TRUE(opened);
    ASSERT_TRUE(c.device->Start());
    uint32_t position = 0;
    while (position == 0) {
        ASSERT_TRUE(c.device->GetReadPosition(&position));
        std::this_thread::sleep_for(5ms);
    }
    for (auto& e : c.events) e->Reset();
    ASSERT_EQ(RunTool({"pactl", "unload-module", module}), 0);

    auto raw = c.Raw();
    // Every event is set at the failure, so this returns long before a notification
    // of the (gone) source would have.
    EXPECT_GE(NamedEvent::WaitAny(raw.data(), raw.size(), kGuardMs), 0);
    bool failed = false;
    for (int i = 0; i < 200 && !failed; ++i) {
        failed = !c.device->GetReadPosition(&position);
        if (!failed) std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(failed) << "the capture did not notice that its source went away";
    EXPECT_FALSE(c.device->LastError().empty());
    // What was captured before the failure stays readable.
    uint32_t captured = 0;
    EXPECT_TRUE(c.device->GetCapturedPosition(&captured));
    EXPECT_GT(captured, 0u);
    void *r1, *r2;
    uint32_t l1, l2;
    ASSERT_TRUE(c.device->Lock(0, 4, &r1, &l1, &r2, &l2)) << c.device->LastError();
    EXPECT_TRUE(c.device->Unlock(r1, l1, r2, l2));
    EXPECT_FALSE(c.device->Stop());
    EXPECT_FALSE(c.device->Start());
}

// The entry without an id records whatever source the server has as its default.
TEST_F(AudioCaptureTest, TheDefaultSourceEntryRecordsTheServersDefault) {
    const WaveFormatEx f = Pcm(22050, 2, 16);
    Capture c;
    ASSERT_TRUE(c.Open("", f, 2 * f.nAvgBytesPerSec, {0, f.nAvgBytesPerSec}));
    std::string tone = ToneFile(1.0);
    ASSERT_TRUE(c.device->Start());
    auto raw = c.Raw();
    {
        Child player({"paplay", tone});
        while (c.bytes.size() < 3 * f.nAvgBytesPerSec) {
            ASSERT_GE(NamedEvent::WaitAny(raw.data(), raw.size(), kGuardMs), 0);
            ASSERT_TRUE(c.Drain()) << c.device->LastError();
        }
    }
    ASSERT_TRUE(c.device->Stop());
    ToneFacts facts = Measure(Channel(c.bytes, f, 0), f.nSamplesPerSec);
    EXPECT_NEAR(facts.frequency, 440.0, 440.0 * 0.02) << "the default is the null sink's monitor here";
}

TEST_F(AudioCaptureTest, NoServerFailsOpenAndListing) {
    const char* saved = std::getenv("PULSE_SERVER");
    std::string keep = saved ? saved : "";
    std::string socket = dir_.File("no-server/native");
    setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
    std::string error;
    auto device = AudioCapture::Open(kMonitor, &error);
    std::vector<platform::AudioDevice> devices;
    std::string listError;
    bool listed = AudioCapture::EnumerateDevices(&devices, &listError);
    if (saved) setenv("PULSE_SERVER", keep.c_str(), 1); else unsetenv("PULSE_SERVER");
    EXPECT_EQ(device, nullptr);
    EXPECT_NE(error.find("sound server"), std::string::npos) << error;
    EXPECT_FALSE(listed);
    EXPECT_TRUE(devices.empty());
    EXPECT_FALSE(listError.empty());
    // The session's server is still there for everyone else.
    EXPECT_TRUE(AudioCapture::Open(kMonitor) != nullptr);
}

}  // namespace
