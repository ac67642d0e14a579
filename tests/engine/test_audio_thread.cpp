// links: korvid_internal tavrec_support_MediaProbe tavrec_support_RiffReader tavrec_support_TestWindow
// The audio capture thread driven by a scripted capture device: what it drains,
// what it writes, and how it fails.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "engine/AudioFormatCheck.h"
#include "engine/AudioThread.h"
#include "engine/korvid.h"
#include "platform/sync/NamedEvent.h"
#include "tests/support/MediaProbe.h"
#include "tests/support/RiffReader.h"
#include "tests/support/TestWindow.h"

namespace {

using namespace std::chrono_literals;

// A capture device whose buffer and read position the test sets by hand.
class ScriptedDevice : public platform::CaptureDevice {
public:
    struct Script {
        uint32_t formats = 0xFFF;
        std::mutex lock;
        std::vector<uint8_t> buffer;
        uint32_t readPosition = 0;
        std::vector<platform::NamedEvent*> events;
        std::atomic<int> drains{0};  // completed Unlock calls
        std::atomic<int> starts{0}, stops{0};
        std::atomic<bool> opened{false};
        // A device that failed (its source went away): the read position is refused,
        // what it captured up to capturedPosition can still be read out.
        bool failed = false;
        uint32_t capturedPosition = 0;
    };

    explicit ScriptedDevice(Script& script) : script_(script) { script_.opened = true; }
    ~ScriptedDevice() override
    {
        StopTicker();
        // The events belong to the audio thread, which closes them after the device.
        std::lock_guard<std::mutex> guard(script_.lock);
        script_.events.clear();
    }

    bool GetFormats(uint32_t* formats) override
    {
        *formats = script_.formats;
        return true;
    }
    bool CreateBuffer(const WaveFormatEx&, uint32_t bytes) override
    {
        std::lock_guard<std::mutex> guard(script_.lock);
        script_.buffer.assign(bytes, 0);
        return true;
    }
    bool SetNotificationPositions(const uint32_t*, platform::NamedEvent* const* events, size_t count) override
    {
        std::lock_guard<std::mutex> guard(script_.lock);
        script_.events.assign(events, events + count);
        return true;
    }
    // Like a real device, a running buffer notifies regularly (here every 50 ms), so
    // that the thread sees pause and stop requests.
    bool Start() override
    {
        ++script_.starts;
        ticking_ = true;
        ticker_ = std::thread([this] {
            while (ticking_) {
                std::this_thread::sleep_for(50ms);
                std::lock_guard<std::mutex> guard(script_.lock);
                if (!script_.events.empty())
                    script_.events[0]->Set();
            }
        });
        return true;
    }
    bool Stop() override
    {
        ++script_.stops;
        StopTicker();
        return true;
    }
    bool GetReadPosition(uint32_t* position) override
    {
        std::lock_guard<std::mutex> guard(script_.lock);
        *position = script_.readPosition;
        return !script_.failed;
    }
    bool GetCapturedPosition(uint32_t* position) override
    {
        std::lock_guard<std::mutex> guard(script_.lock);
        *position = script_.failed ? script_.capturedPosition : script_.readPosition;
        return true;
    }
    std::string LastError() const override
    {
        std::lock_guard<std::mutex> guard(script_.lock);
        return script_.failed ? "the source went away" : "";
    }
    bool Lock(uint32_t offset, uint32_t length, void** r1, uint32_t* l1, void** r2, uint32_t* l2) override
    {
        std::lock_guard<std::mutex> guard(script_.lock);
        const uint32_t size = static_cast<uint32_t>(script_.buffer.size());
        const uint32_t first = std::min(length, size - offset);
        *r1 = &script_.buffer[offset];
        *l1 = first;
        *r2 = first < length ? script_.buffer.data() : nullptr;
        *l2 = length - first;
        return true;
    }
    bool Unlock(void*, uint32_t, void*, uint32_t) override
    {
        ++script_.drains;
        return true;
    }

private:
    void StopTicker()
    {
        ticking_ = false;
        if (ticker_.joinable())
            ticker_.join();
    }

    Script& script_;
    std::atomic<bool> ticking_{false};
    std::thread ticker_;
};

class ScriptedSource : public korvid::AudioDeviceSource {
public:
    std::vector<platform::AudioDevice> devices;
    ScriptedDevice::Script script;
    std::string openedId = "(none)";

    bool Enumerate(std::vector<platform::AudioDevice>* out) override
    {
        *out = devices;
        return true;
    }
    std::unique_ptr<platform::CaptureDevice> Open(const std::string& id) override
    {
        openedId = id;
        return std::make_unique<ScriptedDevice>(script);
    }
};

class AudioThreadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        source_.devices = {{"Primary Sound Capture Driver", ""}, {"Desk microphone", "mic-1"}};
        korvid::SetAudioDeviceSource(&source_);
        options_.AudioEnabled = 1;
        options_.FramesPerSecond = 15;
        // 16-bit stereo at 22050 Hz: blocks of 4 bytes.
        options_.AudioFormat = WaveFormatEx{1, 2, 22050, 88200, 4, 16, 0};
        std::snprintf(options_.FileName, sizeof options_.FileName, "%s", dir_.File("sound.avi").c_str());
        context_.Options = &options_;
    }
    void TearDown() override
    {
        StopRecording(&context_);
        korvid::SetAudioDeviceSource(nullptr);
    }

    // Lets the device "capture" bytes [from, to) with values from the byte's offset,
    // moves its read position to `to` and fires a notification; waits for the drain.
    void Capture(uint32_t from, uint32_t to)
    {
        const int drains = source_.script.drains.load();
        {
            std::lock_guard<std::mutex> guard(source_.script.lock);
            for (uint32_t i = from; i < to; ++i)
                source_.script.buffer[i % source_.script.buffer.size()] = static_cast<uint8_t>(i * 7 + 1);
            source_.script.readPosition = to % source_.script.buffer.size();
            ASSERT_FALSE(source_.script.events.empty()) << "the audio thread has ended";
            source_.script.events[1]->Set();
        }
        WaitFor([&] { return source_.script.drains.load() > drains; });
    }

    template <typename Condition>
    static void WaitFor(Condition condition)
    {
        for (int i = 0; i < 500 && !condition(); ++i)
            std::this_thread::sleep_for(10ms);
        ASSERT_TRUE(condition());
    }

    // The audio stream's chunks as the file holds them.
    std::vector<testsupport::AviDataChunk> Chunks()
    {
        testsupport::RiffReader reader;
        EXPECT_TRUE(reader.Open(options_.FileName)) << reader.LastError();
        return reader.ChunksOf(0);
    }

    static std::string LastError()
    {
        int32_t capacity = 0;
        return GetMyLastError(&capacity);
    }

    testkit::TempDir dir_;
    ScriptedSource source_;
    CaptureOptions options_{};
    CaptureContext context_{};
};

TEST_F(AudioThreadTest, DrainsWholeBlocksAndCarriesTheRestToTheNextChunk)
{
    ASSERT_TRUE(InitializeScreenCapture(&context_)) << LastError();
    ASSERT_TRUE(StartRecording(&context_));
    WaitFor([&] { return source_.script.starts.load() == 1; });

    Capture(0, 10);   // 10 bytes at a block size of 4: 8 are written, 2 wait
    Capture(10, 14);  // the 2 left over and 2 more: one block
    Capture(14, 18);
    ASSERT_TRUE(StopRecording(&context_)) << LastError();

    const auto chunks = Chunks();
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[0].size, 8u);
    EXPECT_EQ(chunks[1].size, 4u);
    EXPECT_EQ(chunks[2].size, 4u);

    // The bytes arrive whole and in order: 16 bytes, each its offset's value.
    int channels = 0, rate = 0;
    const auto samples = testkit::DecodeAudio(options_.FileName, &channels, &rate);
    EXPECT_EQ(channels, 2);
    EXPECT_EQ(rate, 22050);
    ASSERT_EQ(samples.size(), 8u);
    for (uint32_t i = 0; i < 16; ++i)
        EXPECT_EQ(reinterpret_cast<const uint8_t*>(samples.data())[i], static_cast<uint8_t>(i * 7 + 1)) << i;
}

TEST_F(AudioThreadTest, DrainAcrossTheBufferEndUsesBothRegions)
{
    ASSERT_TRUE(InitializeScreenCapture(&context_)) << LastError();
    ASSERT_TRUE(StartRecording(&context_));
    WaitFor([&] { return source_.script.starts.load() == 1; });
    const uint32_t size = 16 * 88200;
    Capture(0, size - 8);
    Capture(size - 8, size + 8);  // 8 bytes before the end, 8 after the wrap
    ASSERT_TRUE(StopRecording(&context_));
    const auto chunks = Chunks();
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[1].size, 16u);
    const auto samples = testkit::DecodeAudio(options_.FileName);
    const auto* bytes = reinterpret_cast<const uint8_t*>(samples.data());
    for (uint32_t i = size - 8; i < size + 8; ++i)
        ASSERT_EQ(bytes[i], static_cast<uint8_t>(i * 7 + 1)) << i;
}

TEST_F(AudioThreadTest, PauseFlushesAndStopsTheBufferAndStopWhilePausedEndsWithSuccess)
{
    ASSERT_TRUE(InitializeScreenCapture(&context_)) << LastError();
    ASSERT_TRUE(StartRecording(&context_));
    WaitFor([&] { return source_.script.starts.load() == 1; });
    Capture(0, 400);
    {
        std::lock_guard<std::mutex> guard(source_.script.lock);
        source_.script.readPosition = 480;  // captured before the pause, not yet notified
    }
    ASSERT_TRUE(PauseRecording(&context_));
    // The pause is seen at the next notification; the flush takes the rest.
    WaitFor([&] { return source_.script.stops.load() == 1; });
    EXPECT_TRUE(StopRecording(&context_)) << "stopping while paused ends with exit code 0";
    int64_t total = 0;
    for (const auto& chunk : Chunks())
        total += chunk.size;
    EXPECT_EQ(total, 480);
    EXPECT_EQ(source_.script.starts.load(), 2) << "the stop request wakes the paused thread once";
}

// The source goes away between two notifications: the sound captured before that is
// still written, then the failure is reported with the device's reason.
TEST_F(AudioThreadTest, ADeviceThatFailsKeepsWhatItCapturedBeforeAndReportsItsReason)
{
    ASSERT_TRUE(InitializeScreenCapture(&context_)) << LastError();
    ASSERT_TRUE(StartRecording(&context_));
    WaitFor([&] { return source_.script.starts.load() == 1; });
    Capture(0, 400);
    {
        std::lock_guard<std::mutex> guard(source_.script.lock);
        for (uint32_t i = 400; i < 800; ++i)
            source_.script.buffer[i] = static_cast<uint8_t>(i * 7 + 1);
        source_.script.capturedPosition = 800;
        source_.script.failed = true;
        source_.script.events[1]->Set();
    }
    WaitFor([&] { return __atomic_load_n(&context_.State, __ATOMIC_ACQUIRE) == static_cast<uint32_t>(StateIdle); });
    EXPECT_EQ(LastError(), "Failed to read the sound capture position: the source went away");
    StopRecording(&context_);

    const auto samples = testkit::DecodeAudio(options_.FileName);
    ASSERT_EQ(samples.size(), 400u) << "800 bytes: the 400 captured before the failure are kept";
    const auto* bytes = reinterpret_cast<const uint8_t*>(samples.data());
    for (uint32_t i = 0; i < 800; ++i)
        ASSERT_EQ(bytes[i], static_cast<uint8_t>(i * 7 + 1)) << i;
}

TEST_F(AudioThreadTest, DeviceWithoutFormatsFailsWithTheDeviceText)
{
    testsupport::TestWindowOptions windowOptions;
    windowOptions.overrideRedirect = true;
    auto window = testsupport::TestWindow::Create(windowOptions);
    ASSERT_TRUE(window);
    options_.NotifyWindow = window->Id();
    options_.VideoEnabled = 1;  // the video thread runs already when the audio thread fails
    options_.CaptureWindow = window->Id();
    source_.script.formats = 0;
    EXPECT_FALSE(InitializeScreenCapture(&context_));
    EXPECT_EQ(LastError(),
              "Your record device does not support directsound.\nPlease select another record device.\n"
              "Please use [Preference]->[Video/Audio]->[Audio Setting] to select another device.");
    EXPECT_EQ(context_.State, static_cast<uint32_t>(StateIdle));
    EXPECT_EQ(context_.ControlThread, nullptr);
    EXPECT_EQ(context_.AviFile, nullptr);
    const auto message = window->WaitForMessage(std::chrono::seconds(5));
    ASSERT_TRUE(message.has_value()) << "CaptureErrorMessage was not posted";
    EXPECT_EQ(message->message, static_cast<uint32_t>(CaptureErrorMessage));
    // The set-up failed after it had made the file: the file goes again.
    EXPECT_FALSE(std::filesystem::exists(options_.FileName));
}

TEST_F(AudioThreadTest, DeviceIsFoundByExactDescriptionAndTheLastMatchWins)
{
    source_.devices = {{"Desk microphone", ""},  // a primary device is never chosen by name
                       {"Desk microphone", "mic-1"},
                       {"Line in", "line"},
                       {"Desk microphone", "mic-2"}};
    std::string id;
    ASSERT_TRUE(korvid::FindCaptureDevice("Desk microphone", &id));
    EXPECT_EQ(id, "mic-2");
    ASSERT_TRUE(korvid::FindCaptureDevice("desk microphone", &id));
    EXPECT_EQ(id, "") << "case matters; no match means the default device";
    ASSERT_TRUE(korvid::FindCaptureDevice("", &id));
    EXPECT_EQ(id, "");

    std::snprintf(options_.AudioDeviceName, sizeof options_.AudioDeviceName, "Line in");
    ASSERT_TRUE(InitializeScreenCapture(&context_)) << LastError();
    EXPECT_EQ(source_.openedId, "line");
}

}  // namespace

namespace {

TEST_F(AudioThreadTest, ADeviceNameFillingItsFieldIsReadWithinIt)
{
    const std::string full(sizeof options_.AudioDeviceName, 'M');
    source_.devices = {{full, "full"}};
    std::memcpy(options_.AudioDeviceName, full.data(), full.size());  // no terminator
    options_.CodecName[0] = u'U';                                      // the field after it
    ASSERT_TRUE(InitializeScreenCapture(&context_)) << LastError();
    EXPECT_EQ(source_.openedId, "full");
}

TEST_F(AudioThreadTest, AFormatThatCannotBeRecordedIsRefusedWithAClearText)
{
    // As a damaged settings file gives it: sixteen seconds of this byte rate overflow
    // a 32-bit size, and the block size does not follow from channels and bits.
    options_.AudioFormat = WaveFormatEx{1, 2, 22050, 0x10000001u, 3, 16, 0};
    EXPECT_FALSE(InitializeScreenCapture(&context_));
    EXPECT_EQ(LastError(), korvid::kUnsupportedAudioFormatText);
    EXPECT_EQ(context_.State, static_cast<uint32_t>(StateIdle));
}

}  // namespace
