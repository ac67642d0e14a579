// links: tavrec_annotate
// The overlay and OverlayFrame on real frame-shaped buffers (no X needed): kept and
// fresh frames, painting the drawing onto a part of the screen, the eraser along a whole segment, clearing, a frame smaller than the
// overlay, and strokes racing with the video thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "annotate/FramePixel.h"
#include "annotate/FreehandDrawing.h"

using namespace annotate;

namespace {

constexpr RectL kCapture{100, 50, 100 + 200, 50 + 150};  // a window at (100, 50), 200 x 150
constexpr uint32_t kRed = 0x00FF0000;                      // 32 bpp frame value of COLORREF 0xFF

// A top-down 32 bpp frame in a buffer of exactly its size, so any write past it is
// seen by AddressSanitizer.
struct Frame {
    Frame(int width, int height, uint32_t fill) : pixels(static_cast<size_t>(width) * height, fill)
    {
        surface = FrameSurface{reinterpret_cast<uint8_t*>(pixels.data()), width, height, width * 4, 32};
    }
    uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * surface.Width + x]; }
    std::vector<uint32_t> pixels;
    FrameSurface surface;
};

Point Root(int x, int y) { return Point{kCapture.left + x, kCapture.top + y}; }

void AddFrame(FreehandDrawing& d, Frame& f, bool* refresh)
{
    d.OverlayFrame(&f.surface, f.surface.Width, f.surface.Height, refresh);
}

}  // namespace

TEST(OverlayFrame, FastDrawAddsNewLinesToTheKeptFrameAndKeepsIt)
{
    FreehandDrawing d;
    d.UseFastDraw = true;
    d.CreateDrawOverlay(kCapture, 32);
    d.DrawMode = true;
    Frame f(200, 150, 0x00123456);

    bool refresh = true;  // first frame after the start: grabbed, and the start asked for a refresh
    AddFrame(d, f, &refresh);
    EXPECT_TRUE(refresh);
    AddFrame(d, f, &refresh);
    EXPECT_FALSE(refresh) << "drawing with no refresh pending keeps the frame";

    d.PenStep(Root(10, 20), Root(90, 20), kCapture, 3, kRed);
    EXPECT_FALSE(IsEmpty(d.DirtyRectNow()));
    AddFrame(d, f, &refresh);
    EXPECT_FALSE(refresh);
    EXPECT_TRUE(IsEmpty(d.DirtyRectNow()));
    EXPECT_EQ(f.At(50, 20), kRed);
    EXPECT_EQ(f.At(50, 21), kRed);
    EXPECT_EQ(f.At(50, 23), 0x00123456u) << "3 px wide";
    EXPECT_EQ(f.At(150, 20), 0x00123456u);

    // A refresh asked for while frames were kept makes the next frame a grab; that
    // grab, coming well after the request, serves it, so the frame after it is kept
    // again. A refresh asked for just before a grab may have missed it: one more grab.
    d.RequestRefresh();
    AddFrame(d, f, &refresh);
    EXPECT_TRUE(refresh);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    d.RequestRefresh();
    AddFrame(d, f, &refresh);
    EXPECT_TRUE(refresh) << "a refresh asked for just before the grab";
    AddFrame(d, f, &refresh);
    EXPECT_FALSE(refresh) << "nothing owed";
    d.RequestRefresh();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    refresh = true;
    AddFrame(d, f, &refresh);
    EXPECT_FALSE(refresh) << "a grab long after the request serves it";

    // The eraser makes every next frame a grab; leaving draw mode too.
    d.DrawTool = dtEraser;
    AddFrame(d, f, &refresh);
    EXPECT_TRUE(refresh);
    d.DrawTool = dtPen;
    d.DrawMode = false;
    refresh = false;
    AddFrame(d, f, &refresh);
    EXPECT_TRUE(refresh);
}

TEST(OverlayFrame, WithoutFastDrawEveryFrameIsGrabbedAndLeftAsTheScreenShowsIt)
{
    FreehandDrawing d;
    d.CreateDrawOverlay(kCapture, 32);
    d.DrawMode = true;
    d.PenStep(Root(0, 100), Root(199, 100), kCapture, 2, kRed);
    d.PenStep(Root(30, 0), Root(30, 149), kCapture, 2, kRed);
    EXPECT_TRUE(IsEmpty(d.DirtyRectNow())) << "DirtyRect grows only with fast drawing";

    for (int i = 0; i < 2; ++i) {
        Frame fresh(200, 150, 0x00FFFFFF);  // a new grab each time
        bool refresh = true;
        AddFrame(d, fresh, &refresh);
        EXPECT_TRUE(refresh);
        // A line a window painted over on the screen is not put back into the recording.
        EXPECT_EQ(fresh.At(120, 100), 0x00FFFFFFu);
        EXPECT_EQ(fresh.At(30, 5), 0x00FFFFFFu);
    }
}

TEST(OverlayFrame, EraserWipesTheWholeSegmentAndClearEmptiesBothLayers)
{
    FreehandDrawing d;
    d.CreateDrawOverlay(kCapture, 32);
    for (int y = 10; y < 140; y += 10)
        d.PenStep(Root(0, y), Root(199, y), kCapture, 4, kRed);
    ASSERT_EQ(d.ColourAt(100, 70), kRed);
    ASSERT_EQ(d.MaskAt(100, 70), DrawOverlay::kMaskStroke);

    // A fast diagonal sweep with a 20 px eraser: its middle is wiped, not only its ends.
    d.EraserStep(Root(10, 10), Root(190, 130), kCapture, 20);
    for (int x = 20; x <= 180; x += 10) {
        const int y = 10 + (x - 10) * 120 / 180;
        EXPECT_EQ(d.ColourAt(x, y), 0u) << x << "," << y;
        EXPECT_EQ(d.MaskAt(x, y), DrawOverlay::kMaskClear) << x << "," << y;
    }
    EXPECT_EQ(d.ColourAt(180, 20), kRed) << "far from the eraser's path";

    d.UseFastDraw = true;
    d.DrawMode = true;
    bool refresh = false;
    Frame f(200, 150, 0);
    AddFrame(d, f, &refresh);  // consumes the refresh asked for at creation
    d.ClearDrawing();
    // A stroke step right after the clear must not cancel the fresh grab it asked for.
    d.PenStep(Root(5, 5), Root(6, 6), kCapture, 1, kRed);
    refresh = false;
    AddFrame(d, f, &refresh);
    EXPECT_TRUE(refresh);

    d.ClearDrawing();
    for (int y = 0; y < 150; ++y)
        for (int x = 0; x < 200; ++x)
            ASSERT_TRUE(d.ColourAt(x, y) == 0 && d.MaskAt(x, y) == DrawOverlay::kMaskClear) << x << "," << y;
}

// The frame is sized when the stream is set up, the overlay when Start reads the
// window: a DirtyRect from the larger overlay, and absurd widths, must stay inside.
TEST(OverlayFrame, DirtyRectBeyondASmallerFrameIsClipped)
{
    FreehandDrawing d;
    d.UseFastDraw = true;
    d.CreateDrawOverlay(kCapture, 32);
    d.DrawMode = true;
    Frame f(120, 90, 0x00010203);
    bool refresh = true;
    AddFrame(d, f, &refresh);
    refresh = false;
    d.PenStep(Root(-50, -50), Root(400, 400), kCapture, 1 << 30, kRed);
    d.PenStep(Root(0, 149), Root(199, 0), kCapture, -7, kRed);
    const RectL dirty = d.DirtyRectNow();
    EXPECT_GT(dirty.right, 200);
    AddFrame(d, f, &refresh);
    EXPECT_EQ(f.At(0, 0), kRed) << "points above and left land on row and column 0";
    EXPECT_EQ(f.At(119, 89), kRed);

    // Painted back onto a piece of the screen: that piece's pixel (0, 0) shows overlay
    // point (100, 40), and nothing lands outside it.
    Frame piece(30, 20, 0x00010203);
    d.ClearDrawing();
    d.PenStep(Root(90, 45), Root(140, 45), kCapture, 1, kRed);
    ASSERT_TRUE(d.AddDrawingTo(piece.surface, Point{100, 40}));
    EXPECT_EQ(piece.At(0, 5), kRed);
    EXPECT_EQ(piece.At(29, 5), kRed);
    EXPECT_EQ(piece.At(10, 6), 0x00010203u);

    // A frame of another depth is left alone rather than written in the wrong layout.
    std::vector<uint16_t> small(120 * 90, 0x7FFF);
    FrameSurface other{reinterpret_cast<uint8_t*>(small.data()), 120, 90, 240, 16};
    d.PenStep(Root(0, 0), Root(119, 89), kCapture, 5, kRed);
    d.OverlayFrame(&other, 120, 90, &refresh);
    EXPECT_EQ(small[45 * 120 + 60], 0x7FFF);
}

TEST(OverlayFrame, SixteenBitFramesGetFiveFiveFiveColour)
{
    FreehandDrawing d;
    d.UseFastDraw = true;
    d.CreateDrawOverlay(kCapture, 16);
    d.PenStep(Root(10, 10), Root(60, 10), kCapture, 2, FramePixelOf(0x00FF00, 16));
    std::vector<uint16_t> pixels(200 * 150, 0);
    FrameSurface frame{reinterpret_cast<uint8_t*>(pixels.data()), 200, 150, 400, 16};
    bool refresh = false;  // a kept frame
    d.OverlayFrame(&frame, 200, 150, &refresh);
    EXPECT_EQ(pixels[10 * 200 + 30], 0x03E0);
    EXPECT_EQ(pixels[40 * 200 + 30], 0);
}

// Strokes and clears on one thread while another adds the drawing to frames, as the
// UI and video threads do; run under ThreadSanitizer by test.sh.
TEST(OverlayFrame, ConcurrentStrokesAndFrames)
{
    FreehandDrawing d;
    d.UseFastDraw = true;
    d.CreateDrawOverlay(kCapture, 32);
    d.DrawMode = true;
    std::atomic<bool> stop{false};
    std::atomic<int> frames{0};
    std::thread video([&] {
        Frame f(200, 150, 0);
        bool refresh = true;
        while (!stop) {
            if (refresh)
                std::memset(f.pixels.data(), 0, f.pixels.size() * 4);  // a "grab"
            AddFrame(d, f, &refresh);
            ++frames;
        }
    });
    for (int i = 0; i < 2000; ++i) {
        const int x = i % 200, y = (i * 7) % 150;
        d.PenStep(Root(x, y), Root(199 - x, 149 - y), kCapture, 1 + i % 6, kRed);
        if (i % 97 == 0)
            d.ClearDrawing();
        if (i % 53 == 0) {
            d.DrawTool = dtEraser;
            d.EraserStep(Root(x, 0), Root(x, 149), kCapture, 50);
            d.DrawTool = dtPen;
        }
    }
    while (frames < 10)
        std::this_thread::yield();
    d.ReleaseDrawOverlay();
    const int before = frames;
    while (frames < before + 5)
        std::this_thread::yield();  // frames with no overlay are harmless
    stop = true;
    video.join();
}
