// links: tavrec_annotate korvid tavrec_support_TestWindow tavrec_support_Recording tavrec_support_MediaProbe
// Drawing on the real screen of the headless session: the XOR pick highlight and
// its exact restoring, a pen stroke on the screen and its repaint, a recording
// through the capture library with OverlayFrame as OnFrame (decoded with ffmpeg),
// and the compositor path under xcompmgr.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <xcb/xcb.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "annotate/FreehandDrawing.h"
#include "annotate/ScreenDrawing.h"
#include "annotate/StrokeStep.h"
#include "tests/support/MediaProbe.h"
#include "tests/support/Recording.h"
#include "tests/support/TestWindow.h"

extern char** environ;

using namespace annotate;
using namespace std::chrono_literals;
using testsupport::TestWindow;

namespace {

constexpr int kWidth = 160, kHeight = 120;

std::unique_ptr<TestWindow> MakeWindow(int x, int y)
{
    testsupport::TestWindowOptions options;
    options.overrideRedirect = true;
    options.x = x;
    options.y = y;
    options.width = kWidth;
    options.height = kHeight;
    std::string error;
    auto window = TestWindow::Create(options, &error);
    EXPECT_TRUE(window) << error;
    return window;
}

std::unique_ptr<ScreenDrawing> MakeScreen()
{
    std::string error;
    auto screen = ScreenDrawing::Create(&error);
    EXPECT_TRUE(screen) << error;
    return screen;
}

// 32-bit pixels of a drawable's area, as the server holds them.
std::vector<uint32_t> GetImage(XConnection& x, xcb_drawable_t drawable, const RectL& r)
{
    xcb_generic_error_t* e = nullptr;
    auto* reply = xcb_get_image_reply(
        x.Get(),
        xcb_get_image(x.Get(), XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, static_cast<int16_t>(r.left),
                      static_cast<int16_t>(r.top), static_cast<uint16_t>(r.right - r.left),
                      static_cast<uint16_t>(r.bottom - r.top), ~0u),
        &e);
    std::vector<uint32_t> pixels;
    if (reply) {
        pixels.resize(static_cast<size_t>(r.right - r.left) * (r.bottom - r.top));
        std::memcpy(pixels.data(), xcb_get_image_data(reply), pixels.size() * 4);
    }
    std::free(reply);
    std::free(e);
    return pixels;
}

uint32_t RootPixel(XConnection& x, int px, int py)
{
    auto p = GetImage(x, x.Root(), RectL{px, py, px + 1, py + 1});
    return p.empty() ? 0xDEADBEEF : p[0] & 0xFFFFFF;
}

// OverlayFrame as OnFrame, counting the frames it was handed.
struct CountingHook {
    FreehandDrawing* drawing;
    std::atomic<int> frames{0};
    static void Code(void* object, FrameSurface* frame, int32_t width, int32_t height, bool* refreshFrame)
    {
        auto* self = static_cast<CountingHook*>(object);
        self->drawing->OverlayFrame(frame, width, height, refreshFrame);
        ++self->frames;
    }
    // Waits until n more frames were built (the machine may be slow).
    bool WaitFrames(int n)
    {
        const int target = frames + n;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (frames < target && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return frames >= target;
    }
};

void MovePointerAway() { testkit::RunCapture({"xdotool", "mousemove", "5", "5"}); }

}  // namespace

TEST(ScreenDrawing, XorHighlightDrawsTheFrameAndASecondToggleRestoresEveryPixel)
{
    auto window = MakeWindow(200, 150);
    auto screen = MakeScreen();
    ASSERT_TRUE(window && screen);
    ASSERT_EQ(screen->Path(), DrawPath::RootWindow) << screen->PathText();
    RectL r;
    ASSERT_TRUE(screen->WindowRect(window->Id(), &r));
    EXPECT_EQ(r.left, 200);
    EXPECT_EQ(r.right - r.left, kWidth);
    const RectL around{r.left - 4, r.top - 4, r.right + 4, r.bottom + 4};
    const auto before = GetImage(screen->Connection(), screen->Connection().Root(), around);
    ASSERT_FALSE(before.empty());

    ASSERT_TRUE(screen->ToggleWindowHighlight(window->Id())) << screen->LastError();
    const auto lit = GetImage(screen->Connection(), screen->Connection().Root(), around);
    const int w = around.right - around.left;
    int changed = 0;
    for (int y = around.top; y < around.bottom; ++y)
        for (int x = around.left; x < around.right; ++x) {
            const size_t i = static_cast<size_t>(y - around.top) * w + (x - around.left);
            const bool inFrame = x >= r.left + 1 && x < r.right && y >= r.top + 1 && y < r.bottom &&
                                 !(x >= r.left + 4 && x < r.right - 3 && y >= r.top + 4 && y < r.bottom - 3);
            const uint32_t expected = inFrame ? (before[i] ^ 0x00FFFF) : before[i];
            if ((lit[i] & 0xFFFFFF) != (expected & 0xFFFFFF))
                ADD_FAILURE() << "pixel " << x << "," << y << std::hex << " before " << before[i] << " lit " << lit[i];
            changed += lit[i] != before[i];
            if (::testing::Test::HasFailure())
                return;
        }
    EXPECT_EQ(changed, 6 * (kWidth - 1) + 6 * (kHeight - 7)) << "a frame 3 px wide";

    ASSERT_TRUE(screen->ToggleWindowHighlight(window->Id()));
    EXPECT_EQ(GetImage(screen->Connection(), screen->Connection().Root(), around), before);
}

TEST(ScreenDrawing, PenStrokeShowsOnTheScreenClippedToTheWindowUntilRepainted)
{
    MovePointerAway();
    auto window = MakeWindow(400, 300);
    auto screen = MakeScreen();
    ASSERT_TRUE(window && screen);
    RectL r;
    ASSERT_TRUE(screen->WindowRect(window->Id(), &r));
    XConnection& x = screen->Connection();
    const uint32_t outside = RootPixel(x, r.right + 10, r.top + 60);
    const uint32_t below = RootPixel(x, r.left + 80, r.top + 70);

    // COLORREF blue; the line runs on past the window's right edge.
    ASSERT_TRUE(screen->DrawPen(Point{r.left + 20, r.top + 60}, Point{r.right + 40, r.top + 60}, 4, 0xFF0000, r))
        << screen->LastError();
    x.Sync();
    EXPECT_EQ(RootPixel(x, r.left + 80, r.top + 60), 0x0000FFu);
    EXPECT_EQ(RootPixel(x, r.left + 20, r.top + 61), 0x0000FFu);
    EXPECT_EQ(RootPixel(x, r.left + 80, r.top + 70), below);
    EXPECT_EQ(RootPixel(x, r.right + 10, r.top + 60), outside) << "clipped to the capture window";

    const RepaintResult repaint = screen->RepaintWholeScreen();
    EXPECT_TRUE(repaint.ok);
    EXPECT_GT(repaint.RefreshAgainAfter.count(), 0) << "clients redraw late: a second refresh is due";
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    while (RootPixel(x, r.left + 80, r.top + 60) != window->ExpectedFramePixel(80, 60, window->CurrentFrame()) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    EXPECT_EQ(RootPixel(x, r.left + 80, r.top + 60), window->ExpectedFramePixel(80, 60, window->CurrentFrame()));
}

// A recording through libkorvid with OverlayFrame as OnFrame. With fast drawing the
// frames after the stroke are the kept frame plus the stroke: a later change of the
// window is not grabbed. Without it every frame is the screen as it is: the window
// painted over the line, and so the line is gone from the recording too.
TEST(ScreenDrawing, RecordingHoldsTheStrokeFromTheKeptOrTheFreshFrame)
{
    MovePointerAway();
    auto window = MakeWindow(300, 200);
    auto screen = MakeScreen();
    ASSERT_TRUE(window && screen);
    ASSERT_EQ(screen->FrameBitsPerPixel(), 32);
    RectL r;
    ASSERT_TRUE(screen->WindowRect(window->Id(), &r));
    // A pixel away from the stroke whose colour differs between pictures 0 and 7.
    int px = -1, py = 100;
    for (int x = 0; x < kWidth && px < 0; ++x)
        if (window->ColorAt(x, py, 0) != window->ColorAt(x, py, 7))
            px = x;
    ASSERT_GE(px, 0);

    for (const bool fast : {true, false}) {
        SCOPED_TRACE(fast ? "UseFastDraw on" : "UseFastDraw off");
        window->Paint(0);
        screen->RepaintWholeScreen();
        testkit::TempDir dir;
        const std::string file = dir.File("draw.avi");
        FreehandDrawing drawing;
        drawing.UseFastDraw = fast;
        drawing.CreateDrawOverlay(r, screen->FrameBitsPerPixel());
        testkit::Recording recording(window->Id(), file, 20);
        CountingHook hook{&drawing};
        recording.SetHook(&CountingHook::Code, &hook);
        std::string error;
        ASSERT_TRUE(recording.Begin(&error)) << error;
        ASSERT_TRUE(hook.WaitFrames(2));
        drawing.DrawMode = true;
        ASSERT_TRUE(hook.WaitFrames(2));
        StrokeSettings pen;
        pen.PenColor = 0x00FF00;  // green
        pen.PenSize = 5;
        Point last{r.left + 10, r.top + 40};
        for (int step = 1; step <= 7; ++step) {
            const Point p{r.left + 10 + step * 20, r.top + 40};
            StrokeStep(*screen, drawing, last, p, r, pen);
            last = p;
        }
        // Something repaints over the line on the screen.
        window->Paint(7);
        ASSERT_TRUE(hook.WaitFrames(3));
        ASSERT_TRUE(recording.Stop()) << testkit::LastErrorText();
        drawing.DrawMode = false;
        drawing.ReleaseDrawOverlay();

        const auto frames = testkit::DecodeVideo(file, "bgr0", kWidth, kHeight, 4);
        ASSERT_GE(frames.size(), 7u);
        const auto& lastFrame = frames.back();
        const auto at = [&](int x, int y) {
            uint32_t v;
            std::memcpy(&v, &lastFrame[(static_cast<size_t>(y) * kWidth + x) * 4], 4);
            return v & 0xFFFFFF;
        };
        // Without fast drawing the recording is the screen: the window painted over the line.
        EXPECT_EQ(at(80, 40), fast ? 0x00FF00u : window->ExpectedFramePixel(80, 40, 7) & 0xFFFFFF);
        EXPECT_EQ(at(140, 41), fast ? 0x00FF00u : window->ExpectedFramePixel(140, 41, 7) & 0xFFFFFF);
        EXPECT_EQ(at(80, 80), window->ExpectedFramePixel(80, 80, fast ? 0 : 7) & 0xFFFFFF);
        EXPECT_EQ(at(px, py), window->ExpectedFramePixel(px, py, fast ? 0 : 7) & 0xFFFFFF)
            << (fast ? "a kept frame: the window's change was not grabbed" : "every frame grabbed");
    }
}

TEST(ScreenDrawing, UnderACompositorStrokesGoToTheCanvasAndTheHighlightIsAWindow)
{
    if (std::system("command -v xcompmgr >/dev/null") != 0)
        GTEST_SKIP() << "xcompmgr is not installed";
    auto window = MakeWindow(600, 400);
    ASSERT_TRUE(window);
    char name[] = "xcompmgr";
    char* argv[] = {name, nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawnp(&pid, "xcompmgr", nullptr, nullptr, argv, environ), 0);
    std::unique_ptr<ScreenDrawing> screen;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
        screen = MakeScreen();
        if (screen && screen->Path() == DrawPath::CompositorCanvas)
            break;
        std::this_thread::sleep_for(20ms);
    }
    if (screen && screen->Path() == DrawPath::CompositorCanvas) {
        EXPECT_NE(screen->PathText().find("canvas"), std::string::npos);
        RectL r;
        ASSERT_TRUE(screen->WindowRect(window->Id(), &r));
        const uint32_t rootBefore = RootPixel(screen->Connection(), r.left + 50, r.top + 30);
        EXPECT_TRUE(screen->DrawPen(Point{r.left + 10, r.top + 30}, Point{r.left + 120, r.top + 30}, 3, 0x0000FF, r))
            << screen->LastError();
        ASSERT_NE(screen->CanvasWindow(), 0u);
        const auto canvas = GetImage(screen->Connection(), screen->CanvasWindow(), RectL{50, 30, 51, 31});
        ASSERT_EQ(canvas.size(), 1u);
        EXPECT_EQ(canvas[0], 0xFFFF0000u) << "opaque red on the canvas";
        const auto clear = GetImage(screen->Connection(), screen->CanvasWindow(), RectL{50, 60, 51, 61});
        EXPECT_EQ(clear.at(0), 0u) << "transparent elsewhere";
        (void)rootBefore;

        ASSERT_TRUE(screen->ToggleWindowHighlight(window->Id())) << screen->LastError();
        const xcb_window_t frame = screen->Highlight().HighlightWindowOf(window->Id());
        ASSERT_NE(frame, 0u);
        auto* attributes = xcb_get_window_attributes_reply(
            screen->Connection().Get(), xcb_get_window_attributes(screen->Connection().Get(), frame), nullptr);
        ASSERT_TRUE(attributes);
        EXPECT_EQ(attributes->map_state, XCB_MAP_STATE_VIEWABLE);
        EXPECT_TRUE(attributes->override_redirect);
        std::free(attributes);
        ASSERT_TRUE(screen->ToggleWindowHighlight(window->Id()));
        EXPECT_EQ(screen->Highlight().HighlightWindowOf(window->Id()), 0u);
    } else {
        ADD_FAILURE() << "xcompmgr did not take the compositing manager selection";
    }
    screen.reset();
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}
