// links: korvid tavrec_support_Recording tavrec_support_TestWindow tavrec_support_MediaProbe tavrec_support_PrivateXServer tavrec_platform_x11
// A recording of the whole screen while the screen's size changes (RandR), on a
// resizable X server of the test's own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/x11/XDisplay.h"
#include "tests/support/MediaProbe.h"
#include "tests/support/PrivateXServer.h"
#include "tests/support/Recording.h"
#include "tests/support/TestWindow.h"

namespace {

using namespace std::chrono_literals;

constexpr int kWidth = 640, kHeight = 480;
// The window lies inside 640 x 480 but wholly outside 320 x 240.
constexpr int kLeft = 400, kTop = 300, kWindowWidth = 160, kWindowHeight = 120;

bool SetScreenSize(const testkit::PrivateXServer& server, const std::string& size)
{
    int code = -1;
    testkit::RunCapture({"env", "DISPLAY=" + server.Display(), "xrandr", "-s", size}, &code);
    return code == 0;
}

// What the frame holds where the window is: its picture, black, or something else.
enum class Area { Picture, Black, Other };

Area AreaOf(const std::vector<uint8_t>& frame, const testsupport::TestWindow& window)
{
    int picture = 0, black = 0;
    for (int y = 0; y < kWindowHeight; ++y)
        for (int x = 0; x < kWindowWidth; ++x) {
            uint32_t v = 0;
            std::memcpy(&v, &frame[((static_cast<size_t>(kTop + y) * kWidth) + kLeft + x) * 4], 4);
            v &= 0xFFFFFF;
            picture += v == (window.ExpectedFramePixel(x, y, 0) & 0xFFFFFF);
            black += v == 0;
        }
    const int all = kWindowWidth * kWindowHeight;
    return picture == all ? Area::Picture : black == all ? Area::Black : Area::Other;
}

TEST(ScreenResize, TheRecordingKeepsItsFrameSizeAndShowsTheScreenAsItIsNow)
{
    testkit::PrivateXServer server(testkit::PrivateXServer::Resizable{}, "640x480");
    ASSERT_TRUE(server.Running()) << "Xephyr did not start";
    setenv("DISPLAY", server.Display().c_str(), 1);
    testkit::RunCapture({"xdotool", "mousemove", "5", "5"});  // the cursor stays out of the window's area

    testsupport::TestWindowOptions options;
    options.overrideRedirect = true;
    options.x = kLeft;
    options.y = kTop;
    options.width = kWindowWidth;
    options.height = kWindowHeight;
    std::string error;
    auto window = testsupport::TestWindow::Create(options, &error);
    ASSERT_TRUE(window) << error;
    auto display = platform::XDisplay::Open(&error);
    ASSERT_TRUE(display) << error;

    testkit::TempDir dir;
    const std::string file = dir.File("resize.avi");
    {
        testkit::Recording recording(display->Root(), file, 10);
        ASSERT_TRUE(recording.Begin(&error)) << error;
        std::this_thread::sleep_for(1s);
        // Smaller: the window's place is off the screen, so black; the frame keeps its size.
        ASSERT_TRUE(SetScreenSize(server, "320x240"));
        std::this_thread::sleep_for(1s);
        // Larger than at the start: the whole frame is screen again.
        ASSERT_TRUE(SetScreenSize(server, "800x600"));
        std::this_thread::sleep_for(1500ms);
        EXPECT_EQ(recording.State(), static_cast<uint32_t>(StateRecording)) << testkit::LastErrorText();
        ASSERT_TRUE(recording.Stop()) << testkit::LastErrorText();
    }

    const auto streams = testkit::ProbeStreams(file);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].at("width"), std::to_string(kWidth));
    EXPECT_EQ(streams[0].at("height"), std::to_string(kHeight));

    // The window's area in order: its picture, then black, then its picture again
    // (a frame or two caught during a change may show neither).
    const auto frames = testkit::DecodeVideo(file, "bgr0", kWidth, kHeight, 4);
    ASSERT_GE(frames.size(), 20u);
    std::vector<Area> runs;
    int others = 0;
    for (const auto& frame : frames) {
        const Area area = AreaOf(frame, *window);
        if (area == Area::Other)
            ++others;
        else if (runs.empty() || runs.back() != area)
            runs.push_back(area);
    }
    EXPECT_EQ(runs, (std::vector<Area>{Area::Picture, Area::Black, Area::Picture}));
    EXPECT_LE(others, 4);
    // While the screen was 320 x 240, everything right of it was black too.
    // (checked on the last black frame)
    for (auto it = frames.rbegin(); it != frames.rend(); ++it) {
        if (AreaOf(*it, *window) != Area::Black)
            continue;
        int lit = 0;
        for (int y = 0; y < kHeight; y += 3)
            for (int x = 320; x < kWidth; x += 3)
                lit += ((*it)[(static_cast<size_t>(y) * kWidth + x) * 4] | (*it)[(static_cast<size_t>(y) * kWidth + x) * 4 + 1] |
                        (*it)[(static_cast<size_t>(y) * kWidth + x) * 4 + 2]) != 0;
        EXPECT_EQ(lit, 0);
        break;
    }
}

}  // namespace
