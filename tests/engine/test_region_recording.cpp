// links: korvid tavrec_support_Recording tavrec_support_TestWindow tavrec_support_MediaProbe tavrec_platform_x11
// Recordings of a fixed rectangle of the screen that spans two windows, checked
// pixel by pixel after decoding with ffmpeg.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "tests/support/MediaProbe.h"
#include "tests/support/Recording.h"
#include "tests/support/TestWindow.h"

namespace {

using namespace std::chrono_literals;
using testkit::Recording;
using testsupport::TestWindow;

// Two windows side by side; the region takes the right part of the left one and the
// left part of the right one.
constexpr int kWindowY = 300, kLeftX = 40, kRightX = 240, kWindowW = 200, kWindowH = 120;
constexpr int kRegionX = 140, kRegionY = 320, kRegionW = 240, kRegionH = 80;

void MovePointer(int x, int y)
{
    testkit::RunCapture({"xdotool", "mousemove", std::to_string(x), std::to_string(y)});
    std::this_thread::sleep_for(50ms);
}

uint32_t PixelAt(const std::vector<uint8_t>& frame, int x, int y)
{
    uint32_t v = 0;
    std::memcpy(&v, &frame[(static_cast<size_t>(y) * kRegionW + x) * 4], 4);
    return v & 0xFFFFFF;
}

struct FrameSeen {
    int width = 0, height = 0, calls = 0;
};

void NoteFrame(void* object, FrameSurface* frame, int32_t width, int32_t height, bool*)
{
    auto* seen = static_cast<FrameSeen*>(object);
    seen->width = width;
    seen->height = height;
    seen->calls += frame->Width == width && frame->Height == height;
}

class RegionRecording : public ::testing::Test {
protected:
    void SetUp() override
    {
        MovePointer(5, 5);  // the cursor stays out of the region unless a test moves it
        testsupport::TestWindowOptions options;
        options.overrideRedirect = true;
        options.y = kWindowY;
        options.width = kWindowW;
        options.height = kWindowH;
        std::string error;
        options.x = kLeftX;
        left_ = TestWindow::Create(options, &error);
        ASSERT_TRUE(left_) << error;
        options.x = kRightX;
        right_ = TestWindow::Create(options, &error);
        ASSERT_TRUE(right_) << error;
        ASSERT_EQ(left_->BitsPerPixel(), 32) << "these tests expect a 24-bit screen";
    }

    // What the screen shows at root (x, y) inside the region.
    uint32_t Expected(int x, int y) const
    {
        const TestWindow& window = x < kRightX ? *left_ : *right_;
        const int wx = x - (x < kRightX ? kLeftX : kRightX), wy = y - kWindowY;
        return window.ExpectedFramePixel(wx, wy, window.CurrentFrame()) & 0xFFFFFF;
    }

    void SetRegion(Recording& recording, int x, int y, int w, int h)
    {
        recording.options.RegionLeft = x;
        recording.options.RegionTop = y;
        recording.options.RegionWidth = w;
        recording.options.RegionHeight = h;
    }

    testkit::TempDir dir_;
    std::unique_ptr<TestWindow> left_, right_;
};

TEST_F(RegionRecording, RecordsExactlyTheRectanglesPixelsWithAndWithoutSpeedupMode)
{
    for (const bool speedup : {false, true}) {
        SCOPED_TRACE(speedup ? "speedup" : "every slot");
        const std::string file = dir_.File(speedup ? "speedup.avi" : "plain.avi");
        FrameSeen seen;
        {
            // The capture window is the root; a region takes its place.
            Recording recording(0, file, 10);
            SetRegion(recording, kRegionX, kRegionY, kRegionW, kRegionH);
            recording.options.UseQuickMode = speedup ? 1 : 0;
            recording.SetHook(&NoteFrame, &seen);
            std::string error;
            ASSERT_TRUE(recording.Begin(&error)) << error;
            std::this_thread::sleep_for(700ms);
            ASSERT_TRUE(recording.Stop()) << testkit::LastErrorText();
        }
        auto streams = testkit::ProbeStreams(file);
        ASSERT_FALSE(streams.empty());
        EXPECT_EQ(streams[0]["width"], std::to_string(kRegionW));
        EXPECT_EQ(streams[0]["height"], std::to_string(kRegionH));
        EXPECT_GT(seen.calls, 0);
        EXPECT_EQ(seen.width, kRegionW);
        EXPECT_EQ(seen.height, kRegionH);

        const auto frames = testkit::DecodeVideo(file, "bgr0", kRegionW, kRegionH, 4);
        ASSERT_GE(frames.size(), 1u);
        for (size_t f = 0; f < frames.size(); ++f) {
            int bad = 0;
            for (int y = 0; y < kRegionH; ++y)
                for (int x = 0; x < kRegionW; ++x)
                    bad += PixelAt(frames[f], x, y) != Expected(kRegionX + x, kRegionY + y);
            EXPECT_EQ(bad, 0) << "frame " << f;
        }
    }
}

TEST_F(RegionRecording, TheCursorIsDrawnRelativeToTheRectangle)
{
    ASSERT_TRUE(right_->SetTestCursor(0, 0));
    // 30 pixels into the right window, 10 below the region's top edge.
    MovePointer(kRightX + 30, kRegionY + 10);
    const std::string file = dir_.File("cursor.avi");
    {
        Recording recording(0, file, 10);
        SetRegion(recording, kRegionX, kRegionY, kRegionW, kRegionH);
        std::string error;
        ASSERT_TRUE(recording.Begin(&error)) << error;
        std::this_thread::sleep_for(600ms);
        ASSERT_TRUE(recording.Stop()) << testkit::LastErrorText();
    }
    MovePointer(5, 5);
    const auto frames = testkit::DecodeVideo(file, "bgr0", kRegionW, kRegionH, 4);
    ASSERT_FALSE(frames.empty());
    int opaque = 0;
    for (int y = 0; y < TestWindow::kCursorSize; ++y)
        for (int x = 0; x < TestWindow::kCursorSize; ++x) {
            const uint32_t argb = TestWindow::TestCursorPixel(x, y);
            const int fx = kRightX + 30 - kRegionX + x, fy = 10 + y;
            if (argb >> 24 == 0xFF) {
                ++opaque;
                EXPECT_EQ(PixelAt(frames.back(), fx, fy), argb & 0xFFFFFF) << x << "," << y;
            }
        }
    EXPECT_GT(opaque, 10);
}

TEST_F(RegionRecording, ARectangleNotWhollyOnTheScreenIsRefused)
{
    int screenW = 0, screenH = 0;
    {
        auto display = platform::XDisplay::Open();
        ASSERT_TRUE(display);
        RectL screen{};
        ASSERT_TRUE(display->GetWindowRect(display->Root(), &screen));
        screenW = screen.right - screen.left;
        screenH = screen.bottom - screen.top;
    }
    struct Case {
        int x, y, w, h;
    };
    for (const Case c : {Case{-1, 0, 100, 100}, Case{0, -5, 100, 100}, Case{screenW - 99, 0, 100, 100},
                         Case{0, screenH - 50, 100, 51}, Case{0x7FFFFFF0, 0, 100, 100}}) {
        SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
        const std::string file = dir_.File("off.avi");
        Recording recording(0, file, 10);
        SetRegion(recording, c.x, c.y, c.w, c.h);
        std::string error;
        EXPECT_FALSE(recording.Begin(&error));
        EXPECT_NE(error.find("Capture region lies outside the screen"), std::string::npos) << error;
        EXPECT_TRUE(recording.WaitUntilIdle(10s));
    }
    // The whole screen exactly is a region like any other.
    Recording recording(0, dir_.File("whole.avi"), 5);
    SetRegion(recording, 0, 0, screenW, screenH);
    std::string error;
    ASSERT_TRUE(recording.Begin(&error)) << error;
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(recording.Stop());
    EXPECT_EQ(testkit::ProbeStreams(dir_.File("whole.avi"))[0]["width"], std::to_string(screenW));
}

}  // namespace
