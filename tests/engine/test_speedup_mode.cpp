// links: korvid tavrec_support_Recording tavrec_support_TestWindow tavrec_support_RiffReader tavrec_support_MediaProbe tavrec_platform_x11
// Recordings in Speedup Mode (UseQuickMode): a slot in which nothing changed is an
// empty position, a change is in the file from the slot it happened in, and the file
// keeps its frame rate and its sound in step. Checked with our RIFF reader and ffmpeg.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/support/MediaProbe.h"
#include "tests/support/Recording.h"
#include "tests/support/RiffReader.h"
#include "tests/support/TestWindow.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testkit::Recording;
using testsupport::TestWindow;

constexpr int kWidth = 160, kHeight = 120;  // the recorded window
constexpr int kX = 300, kY = 200;
// A small window on top of it, whose repaints change only part of the frame.
constexpr int kInnerWidth = 40, kInnerHeight = 32;
constexpr int kInnerX = 40, kInnerY = 40;  // inside the recorded window
constexpr uint32_t kFps = 10;

void MovePointer(int x, int y)
{
    testkit::RunCapture({"xdotool", "mousemove", std::to_string(x), std::to_string(y)});
    std::this_thread::sleep_for(50ms);
}

uint32_t PixelAt(const std::vector<uint8_t>& frame, int x, int y)
{
    uint32_t v = 0;
    std::memcpy(&v, &frame[(static_cast<size_t>(y) * kWidth + x) * 4], 4);
    return v & 0xFFFFFF;
}

// Sizes of the video stream's chunks, one per position.
std::vector<uint32_t> ChunkSizes(const std::string& file)
{
    testsupport::RiffReader reader;
    EXPECT_TRUE(reader.Open(file)) << reader.LastError();
    std::vector<uint32_t> sizes;
    for (const auto& chunk : reader.ChunksOf(0))
        sizes.push_back(chunk.size);
    return sizes;
}

std::string Text(const std::vector<size_t>& positions)
{
    std::string text;
    for (size_t p : positions)
        text += std::to_string(p) + " ";
    return text;
}

std::vector<size_t> NonEmpty(const std::vector<uint32_t>& sizes)
{
    std::vector<size_t> positions;
    for (size_t i = 0; i < sizes.size(); ++i)
        if (sizes[i] > 0)
            positions.push_back(i);
    return positions;
}

// When each frame was built: the hook is called once for every frame built.
struct BuildTimes {
    std::mutex lock;
    std::vector<Clock::time_point> times;
    static void Call(void* object, FrameSurface*, int32_t, int32_t, bool*)
    {
        auto* self = static_cast<BuildTimes*>(object);
        std::lock_guard guard(self->lock);
        self->times.push_back(Clock::now());
    }
};

class SpeedupMode : public ::testing::Test {
protected:
    void SetUp() override
    {
        MovePointer(5, 5);  // the cursor stays out of the frame unless a test moves it
        testsupport::TestWindowOptions options;
        options.overrideRedirect = true;
        options.x = kX;
        options.y = kY;
        options.width = kWidth;
        options.height = kHeight;
        std::string error;
        window_ = TestWindow::Create(options, &error);
        ASSERT_TRUE(window_) << error;
        ASSERT_EQ(window_->BitsPerPixel(), 32) << "these tests expect a 24-bit screen";
    }

    std::unique_ptr<Recording> Make(const std::string& name)
    {
        auto recording = std::make_unique<Recording>(window_->Id(), dir_.File(name), kFps);
        recording->options.UseQuickMode = 1;
        return recording;
    }

    // Pixels of the frame that differ from the outer window's picture a with the inner
    // window's picture b on top (no inner window: b < 0).
    int Mismatches(const std::vector<uint8_t>& frame, uint32_t a, int b) const
    {
        int bad = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const bool inner = b >= 0 && x >= kInnerX && x < kInnerX + kInnerWidth && y >= kInnerY &&
                                   y < kInnerY + kInnerHeight;
                const uint32_t want =
                    inner ? inner_->ExpectedFramePixel(x - kInnerX, y - kInnerY, static_cast<uint32_t>(b))
                          : window_->ExpectedFramePixel(x, y, a);
                bad += PixelAt(frame, x, y) != (want & 0xFFFFFF);
            }
        return bad;
    }

    testkit::TempDir dir_;
    std::unique_ptr<TestWindow> window_;
    std::unique_ptr<TestWindow> inner_;
};

// Changes 700 ms apart, taking turns: the small window on top (part of the frame),
// then the recorded window (nearly all of it). Change s shows the recorded window's
// picture s / 2 with the small one's (s + 1) / 2.
TEST_F(SpeedupMode, EveryChangeIsInTheFileFromItsSlotAndUnchangedSlotsAreEmpty)
{
    testsupport::TestWindowOptions options;
    options.overrideRedirect = true;
    options.x = kX + kInnerX;
    options.y = kY + kInnerY;
    options.width = kInnerWidth;
    options.height = kInnerHeight;
    std::string error;
    inner_ = TestWindow::Create(options, &error);
    ASSERT_TRUE(inner_) << error;
    ASSERT_TRUE(inner_->Raise());

    constexpr int kChanges = 6;
    Clock::time_point begun[kChanges + 1], done[kChanges + 1];
    BuildTimes builds;
    const std::string file = dir_.File("changes.avi");
    {
        auto recording = Make("changes.avi");
        recording->SetHook(&BuildTimes::Call, &builds);
        ASSERT_TRUE(recording->Begin(&error)) << error;
        for (int s = 1; s <= kChanges; ++s) {
            std::this_thread::sleep_for(700ms);
            begun[s] = Clock::now();
            ASSERT_TRUE(s % 2 ? inner_->Paint(static_cast<uint32_t>((s + 1) / 2))
                              : window_->Paint(static_cast<uint32_t>(s / 2)));
            done[s] = Clock::now();
        }
        std::this_thread::sleep_for(700ms);
        ASSERT_TRUE(recording->Stop()) << testkit::LastErrorText();
    }

    const auto sizes = ChunkSizes(file);
    ASSERT_GE(sizes.size(), 40u);
    const auto streams = testkit::ProbeStreams(file);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].at("r_frame_rate"), "10/1");
    EXPECT_EQ(streams[0].at("nb_frames"), std::to_string(sizes.size()));
    EXPECT_NEAR(std::stod(streams[0].at("duration")), static_cast<double>(sizes.size()) / kFps, 1e-6);
    // What a player shows at each position: the last frame ffmpeg decodes at or before
    // it, by the frames' times.
    const auto decoded = testkit::DecodeVideo(file, "bgr0", kWidth, kHeight, 4);
    std::vector<size_t> times;
    for (const auto& packet : testkit::ProbePackets(file, 0))
        if (packet.size > 0)
            times.push_back(static_cast<size_t>(std::lround(packet.pts * kFps)));
    ASSERT_EQ(decoded.size(), times.size());
    ASSERT_EQ(times, NonEmpty(sizes)) << "ffmpeg places the frames at their positions";
    std::vector<const std::vector<uint8_t>*> frames;
    for (size_t q = 0, k = 0; q < sizes.size(); ++q) {
        while (k + 1 < times.size() && times[k + 1] <= q)
            ++k;
        frames.push_back(&decoded[k]);
    }

    // Which change each position shows; every one shows one exactly.
    std::vector<int> shown(frames.size(), -1);
    for (size_t q = 0; q < frames.size(); ++q) {
        for (int s = 0; s <= kChanges && shown[q] < 0; ++s)
            if (Mismatches(*frames[q], static_cast<uint32_t>(s / 2), (s + 1) / 2) == 0)
                shown[q] = s;
        ASSERT_GE(shown[q], 0) << "position " << q << " shows none of the pictures";
    }
    // In order, none missing, and a stored frame exactly where each change appears.
    std::vector<size_t> first(kChanges + 1, 0);
    EXPECT_EQ(shown[0], 0);
    for (size_t q = 1; q < shown.size(); ++q) {
        ASSERT_GE(shown[q], shown[q - 1]) << q;
        ASSERT_LE(shown[q], shown[q - 1] + 1) << "a change is missing at position " << q;
        if (shown[q] != shown[q - 1])
            first[shown[q]] = q;
    }
    ASSERT_EQ(shown.back(), kChanges);
    // The last position holds a frame too: the stream ends with one.
    std::vector<size_t> expected{0};
    for (int s = 1; s <= kChanges; ++s)
        expected.push_back(first[s]);
    if (expected.back() != sizes.size() - 1)
        expected.push_back(sizes.size() - 1);
    const auto stored = NonEmpty(sizes);
    EXPECT_EQ(stored, expected) << "frames are stored where the picture changed, and only there: "
                                << Text(stored);

    // Each change appears in the slot after it was drawn (a slot's frame is built right
    // after the slot begins), allowing one slot for a late wake-up. The recording's
    // start is bounded by the build times: slot p is built no earlier than its start.
    ASSERT_EQ(builds.times.size(), stored.size());
    Clock::time_point start = builds.times[0];
    for (size_t k = 0; k < stored.size(); ++k)
        start = std::min(start, builds.times[k] - std::chrono::milliseconds(stored[k] * 1000 / kFps));
    const auto slotAt = [&](Clock::time_point t) {
        return std::floor(std::chrono::duration<double>(t - start).count() * kFps);
    };
    for (int s = 1; s <= kChanges; ++s) {
        EXPECT_LE(static_cast<double>(first[s]), slotAt(done[s]) + 3) << "change " << s << " came late";
        EXPECT_GE(static_cast<double>(first[s]), slotAt(begun[s]) - 1) << "change " << s << " came early";
    }
}

TEST_F(SpeedupMode, TheCursorMovingAloneStoresFramesAndLeavesNoTrace)
{
    ASSERT_TRUE(window_->SetTestCursor(0, 0));
    const std::string file = dir_.File("cursor.avi");
    {
        auto recording = Make("cursor.avi");
        std::string error;
        ASSERT_TRUE(recording->Begin(&error)) << error;
        for (int step = 0; step < 3; ++step) {
            std::this_thread::sleep_for(500ms);
            MovePointer(kX + 30 + step * 40, kY + 50);
        }
        std::this_thread::sleep_for(500ms);
        MovePointer(5, 5);  // out of the frame again
        std::this_thread::sleep_for(500ms);
        ASSERT_TRUE(recording->Stop()) << testkit::LastErrorText();
    }
    // The first frame, one for each place of the cursor, one without it, and the last
    // position's.
    const auto stored = NonEmpty(ChunkSizes(file));
    EXPECT_EQ(stored.size(), 6u) << Text(stored);
    const auto frames = testkit::DecodeVideo(file, "bgr0", kWidth, kHeight, 4);
    ASSERT_EQ(frames.size(), 6u);
    EXPECT_EQ(Mismatches(frames[0], 0, -1), 0);
    for (int step = 0; step < 3; ++step) {
        const auto& frame = frames[1 + step];
        const int cx = 30 + step * 40, cy = 50;
        // The cursor is at its place, and nowhere else: not at the place before.
        int differing = 0, outside = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const bool under = x >= cx && x < cx + TestWindow::kCursorSize && y >= cy &&
                                   y < cy + TestWindow::kCursorSize;
                const bool differs = PixelAt(frame, x, y) != (window_->ExpectedFramePixel(x, y, 0) & 0xFFFFFF);
                differing += differs && under;
                outside += differs && !under;
            }
        EXPECT_GT(differing, 0) << "step " << step;
        EXPECT_EQ(outside, 0) << "step " << step;
    }
    EXPECT_EQ(Mismatches(frames[4], 0, -1), 0) << "the cursor left a trace";
    EXPECT_EQ(Mismatches(frames[5], 0, -1), 0);
}

// A window that moves takes the recorded area with it: the frames after the move show
// the window whole although nothing in it was drawn anew.
TEST_F(SpeedupMode, AMovedWindowIsGrabbedWhole)
{
    testsupport::TestWindowOptions options;
    options.x = 700;
    options.y = 500;
    options.width = kWidth;
    options.height = kHeight;
    options.overrideRedirect = true;
    std::string error;
    auto other = TestWindow::Create(options, &error);  // beside it, showing another picture
    ASSERT_TRUE(other) << error;
    ASSERT_TRUE(other->Paint(5));
    const std::string file = dir_.File("moved.avi");
    {
        auto recording = Make("moved.avi");
        ASSERT_TRUE(recording->Begin(&error)) << error;
        std::this_thread::sleep_for(600ms);
        // The recorded window goes where the other one was, below it, so the area now
        // shows the other window, drawn there long ago.
        ASSERT_TRUE(window_->MoveTo(700, 500));
        std::this_thread::sleep_for(600ms);
        ASSERT_TRUE(recording->Stop()) << testkit::LastErrorText();
    }
    const auto frames = testkit::DecodeVideo(file, "bgr0", kWidth, kHeight, 4);
    ASSERT_GE(frames.size(), 2u);
    EXPECT_EQ(Mismatches(frames.front(), 0, -1), 0);
    int bad = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            bad += PixelAt(frames.back(), x, y) != (other->ExpectedFramePixel(x, y, 5) & 0xFFFFFF);
    EXPECT_EQ(bad, 0) << "the last frame shows the area at the window's new place";
}

// With sound, and a pause: picture and sound last the same, and the first slot after
// the pause is stored although nothing changed.
TEST_F(SpeedupMode, SoundStaysInStepAndAResumedRecordingStoresAFrame)
{
    const std::string file = dir_.File("sound.avi");
    Clock::duration before{}, recorded{};
    {
        auto recording = Make("sound.avi");
        recording->options.AudioEnabled = 1;
        recording->options.AudioFormat = WaveFormatEx{1, 2, 22050, 88200, 4, 16, 0};
        ASSERT_TRUE(recording->Initialize()) << testkit::LastErrorText();
        auto resumed = Clock::now();
        ASSERT_TRUE(recording->Start());
        std::this_thread::sleep_for(1500ms);
        ASSERT_TRUE(recording->Pause());
        before = Clock::now() - resumed;
        std::this_thread::sleep_for(700ms);
        resumed = Clock::now();
        ASSERT_TRUE(recording->Pause());  // resume
        std::this_thread::sleep_for(1500ms);
        ASSERT_TRUE(recording->Stop()) << testkit::LastErrorText();
        recorded = before + (Clock::now() - resumed);
    }
    const auto streams = testkit::ProbeStreams(file);
    ASSERT_EQ(streams.size(), 2u);
    const double picture = std::stod(streams[0].at("duration"));
    const double sound = std::stod(streams[1].at("nb_frames")) / std::stod(streams[1].at("sample_rate"));
    const double seconds = std::chrono::duration<double>(recorded).count();
    EXPECT_NEAR(picture, seconds, 0.3);
    EXPECT_NEAR(picture, sound, 0.2) << "the empty positions shifted the picture against the sound";

    // Nothing changed: the first frame, the first after the pause and the last only.
    const auto sizes = ChunkSizes(file);
    const auto stored = NonEmpty(sizes);
    ASSERT_EQ(stored.size(), 3u) << Text(stored);
    EXPECT_EQ(stored[0], 0u);
    EXPECT_EQ(stored[2], sizes.size() - 1);
    const double pausedAt = std::chrono::duration<double>(before).count() * kFps;
    EXPECT_NEAR(static_cast<double>(stored[1]), pausedAt, 3.0);
}

}  // namespace
