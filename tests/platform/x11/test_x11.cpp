// links: tavrec_platform_x11 tavrec_support_TestWindow
// X11 access against a real X server with a window manager: window geometry, posted
// messages, screen grabs (MIT-SHM and plain GetImage) and the cursor reader (drawing
// the cursor without a server: test_draw_cursor.cpp). Run inside the headless desktop
// session; the screen-depth test starts sessions of its own at the other depths and
// runs the server tests there again.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cctype>
#include <string>
#include <thread>
#include <vector>

#include "platform/x11/CursorImage.h"
#include "platform/x11/ScreenGrabber.h"
#include "platform/x11/XDisplay.h"
#include "tests/platform/x11/TestFrame.h"
#include "tests/support/TestWindow.h"

using platform::CursorImage;
using platform::CursorReader;
using platform::DrawCursor;
using platform::ScreenGrabber;
using platform::XDisplay;
using testsupport::Frame;
using testsupport::TestWindow;
using testsupport::TestWindowOptions;

namespace {

// ---------------------------------------------------------------- helpers

std::string Shell(const std::string& command, int* status = nullptr)
{
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    const int rc = pclose(pipe);
    if (status)
        *status = rc;
    return out;
}

// The integers that follow `label` on its line ("dimensions:    1920x1080 pixels"
// gives 1920, 1080); hexadecimal ones ("0x1f1") too.
std::vector<long> NumbersAfter(const std::string& text, const std::string& label)
{
    std::vector<long> numbers;
    const size_t at = text.find(label);
    if (at == std::string::npos)
        return numbers;
    const size_t end = text.find('\n', at);
    const std::string line = text.substr(at + label.size(), end == std::string::npos ? std::string::npos : end - at - label.size());
    for (size_t i = 0; i < line.size();) {
        const bool negative = line[i] == '-' && i + 1 < line.size() && std::isdigit(static_cast<unsigned char>(line[i + 1]));
        if (!negative && !std::isdigit(static_cast<unsigned char>(line[i]))) {
            ++i;
            continue;
        }
        size_t used = 0;
        numbers.push_back(std::stol(line.substr(i), &used, 0));
        i += used;
    }
    return numbers;
}

long First(const std::vector<long>& numbers) { return numbers.empty() ? -99999 : numbers[0]; }

// Sets or clears an environment variable for the lifetime of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old, hadOld_ = true;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (hadOld_)
            setenv(name_.c_str(), old_.c_str(), 1);
        else
            unsetenv(name_.c_str());
    }

private:
    std::string name_, old_;
    bool hadOld_ = false;
};

// Counts the pixels of `frame` that differ from the window's picture, the window's
// client pixel (0, 0) lying at (ox, oy) of the frame; pixels outside the window must
// be black when `outsideBlack`.
struct Mismatch {
    int count = 0;
    std::string first;
};

Mismatch CompareWithWindow(const Frame& frame, const TestWindow& window, int ox, int oy, uint32_t n,
                           bool outsideBlack, int screenX0 = 0, int screenY0 = 0, int screenW = 1 << 30,
                           int screenH = 1 << 30)
{
    Mismatch m;
    for (int y = 0; y < frame.height; ++y) {
        for (int x = 0; x < frame.width; ++x) {
            const int wx = x - ox, wy = y - oy;
            // Root position of the frame pixel: black when off the screen.
            const int rx = screenX0 + x, ry = screenY0 + y;
            const bool onScreen = rx >= 0 && ry >= 0 && rx < screenW && ry < screenH;
            const bool inWindow = wx >= 0 && wy >= 0 && wx < window.Width() && wy < window.Height();
            uint32_t expected;
            if (!onScreen)
                expected = 0;
            else if (inWindow)
                expected = window.ExpectedFramePixel(wx, wy, n);
            else if (outsideBlack)
                expected = 0;
            else
                continue;
            if (frame.Colour(x, y) != expected) {
                if (m.count++ == 0) {
                    char text[160];
                    std::snprintf(text, sizeof text, "first at frame (%d,%d): 0x%x, expected 0x%x", x, y,
                                  frame.Colour(x, y), expected);
                    m.first = text;
                }
            }
        }
    }
    return m;
}

// Grabs into the grabber's own FrameBuffer() (the server writes there directly with
// MIT-SHM) and returns a copy of it.
bool GrabIntoFrameBuffer(ScreenGrabber& grabber, int x, int y, Frame* out)
{
    uint8_t* pixels = grabber.FrameBuffer();
    const size_t stride = grabber.FrameStride();
    if (stride < static_cast<size_t>(out->width) * out->bytes)
        return false;
    std::memset(pixels, 0xCD, stride * out->height);  // stale content must not survive
    if (!grabber.Grab(x, y, pixels, stride))
        return false;
    for (int row = 0; row < out->height; ++row)
        std::memcpy(out->data.data() + row * out->stride, pixels + row * stride, static_cast<size_t>(out->width) * out->bytes);
    return true;
}

#define EXPECT_NO_MISMATCH(m) EXPECT_EQ((m).count, 0) << (m).first

bool InNestedSession() { return std::getenv("TAVREC_X11_NESTED") != nullptr; }

}  // namespace

// ---------------------------------------------------------------- X server tests

class XServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        display_ = XDisplay::Open(&error);
        ASSERT_TRUE(display_) << error << " (run inside tests/desktop-session.sh)";
        width_ = display_->ScreenWidth();
        height_ = display_->ScreenHeight();
        bpp_ = display_->RootBitsPerPixel();
    }

    std::unique_ptr<TestWindow> MakeWindow(TestWindowOptions options)
    {
        std::string error;
        auto window = TestWindow::Create(options, &error);
        EXPECT_TRUE(window) << error;
        return window;
    }

    std::unique_ptr<TestWindow> MakeOverrideWindow(int x, int y, int w, int h, int border = 0)
    {
        TestWindowOptions o;
        o.x = x, o.y = y, o.width = w, o.height = h, o.overrideRedirect = true, o.borderWidth = border;
        return MakeWindow(o);
    }

    std::unique_ptr<ScreenGrabber> MakeGrabber(int w, int h, bool shm = true)
    {
        ScopedEnv env("TAVREC_NO_SHM", shm ? nullptr : "1");
        std::string error;
        auto grabber = ScreenGrabber::Create(*display_, w, h, &error);
        EXPECT_TRUE(grabber) << error;
        if (grabber) {
            EXPECT_EQ(grabber->UsesShm(), shm);
        }
        return grabber;
    }

    void MovePointer(int x, int y)
    {
        int rc = 0;
        Shell("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) + " 2>&1", &rc);
        ASSERT_EQ(rc, 0);
    }

    std::unique_ptr<XDisplay> display_;
    int width_ = 0, height_ = 0, bpp_ = 0;
};

TEST_F(XServer, ReportsTheScreenAsXdpyinfoDoes)
{
    const std::string info = Shell("xdpyinfo");
    const std::vector<long> dimensions = NumbersAfter(info, "dimensions:");
    ASSERT_GE(dimensions.size(), 2u) << info;
    EXPECT_EQ(width_, dimensions[0]);
    EXPECT_EQ(height_, dimensions[1]);
    const long depth = First(NumbersAfter(info, "depth of root window:"));
    EXPECT_EQ(display_->RootDepth(), depth);
    EXPECT_EQ(bpp_, First(NumbersAfter(info, "depth " + std::to_string(depth) + ", bits_per_pixel")));
    EXPECT_EQ(display_->Root(), First(NumbersAfter(Shell("xwininfo -root"), "Window id:")));
    RectL rect{};
    ASSERT_TRUE(display_->GetWindowRect(display_->Root(), &rect));
    EXPECT_EQ(rect.left, 0);
    EXPECT_EQ(rect.top, 0);
    EXPECT_EQ(rect.right, width_);
    EXPECT_EQ(rect.bottom, height_);
    EXPECT_EQ(display_->TopLevelOf(display_->Root()), display_->Root());
    EXPECT_NE(display_->MessageAtom(), 0u);
}

TEST_F(XServer, OpenFailsWithAClearMessageWhenNoServerAnswers)
{
    {
        ScopedEnv env("DISPLAY", ":4242");
        std::string error;
        EXPECT_FALSE(XDisplay::Open(&error));
        EXPECT_NE(error.find("\":4242\""), std::string::npos) << error;
    }
    {
        ScopedEnv env("DISPLAY", nullptr);
        std::string error;
        EXPECT_FALSE(XDisplay::Open(&error));
        EXPECT_NE(error.find("DISPLAY is not set"), std::string::npos) << error;
        EXPECT_FALSE(platform::PostWindowMessage(display_->Root(), 1));
    }
}

TEST_F(XServer, GrabOfAWindowsAreaReturnsItsPixelsThroughShmAndGetImage)
{
    // Odd sizes and position, so row padding and offsets matter.
    auto window = MakeOverrideWindow(37, 53, 301, 157);
    ASSERT_TRUE(window);
    ASSERT_EQ(window->BitsPerPixel(), bpp_);
    int ox = 0, oy = 0;
    ASSERT_TRUE(window->ClientOrigin(&ox, &oy));
    EXPECT_EQ(ox, 37);
    EXPECT_EQ(oy, 53);
    auto shm = MakeGrabber(301, 157, true);
    auto plain = MakeGrabber(301, 157, false);
    ASSERT_TRUE(shm && plain);
    EXPECT_EQ(shm->BitsPerPixel(), bpp_);
    for (uint32_t n : {0u, 5u, 0xA5A5u}) {
        ASSERT_TRUE(window->Paint(n));
        Frame a(301, 157, bpp_), b(301, 157, bpp_, 0x5A);
        ASSERT_TRUE(shm->Grab(ox, oy, a.Pixels(), a.stride)) << shm->LastError();
        ASSERT_TRUE(plain->Grab(ox, oy, b.Pixels(), b.stride)) << plain->LastError();
        EXPECT_NO_MISMATCH(CompareWithWindow(a, *window, 0, 0, n, true)) << "SHM, frame " << n;
        EXPECT_NO_MISMATCH(CompareWithWindow(b, *window, 0, 0, n, true)) << "GetImage, frame " << n;
        for (ScreenGrabber* g : {shm.get(), plain.get()}) {
            Frame c(301, 157, bpp_);
            ASSERT_TRUE(GrabIntoFrameBuffer(*g, ox, oy, &c)) << g->LastError();
            EXPECT_NO_MISMATCH(CompareWithWindow(c, *window, 0, 0, n, true))
                << "into FrameBuffer(), " << (g->UsesShm() ? "SHM" : "GetImage") << ", frame " << n;
        }
    }
    // Rows of the frame buffer are padded to 4 bytes like a DIB's.
    EXPECT_EQ(shm->FrameStride(), (static_cast<size_t>(301) * bpp_ / 8 + 3) / 4 * 4);
}

TEST_F(XServer, ShmAndGetImageGrabTheSameFullScreen)
{
    auto window = MakeOverrideWindow(width_ / 3, height_ / 4, 200, 120);
    ASSERT_TRUE(window);
    ASSERT_TRUE(window->Paint(77));
    auto shm = MakeGrabber(width_, height_, true);
    auto plain = MakeGrabber(width_, height_, false);
    ASSERT_TRUE(shm && plain);
    Frame a(width_, height_, bpp_, 0x00), b(width_, height_, bpp_, 0xFF);
    ASSERT_TRUE(shm->Grab(0, 0, a.Pixels(), a.stride)) << shm->LastError();
    ASSERT_TRUE(plain->Grab(0, 0, b.Pixels(), b.stride)) << plain->LastError();
    int differing = 0;
    for (int y = 0; y < height_; ++y)
        differing += std::memcmp(a.data.data() + y * a.stride, b.data.data() + y * b.stride,
                                 static_cast<size_t>(width_) * a.bytes) != 0;
    EXPECT_EQ(differing, 0) << "rows that differ";
}

// A translucent window leaves its alpha in the fourth byte; the colour is the window's.
TEST_F(XServer, TranslucentWindowsGiveTheirColours)
{
    if (bpp_ != 32)
        GTEST_SKIP() << "only screens of 32 bits per pixel have a fourth byte";
    TestWindowOptions o;
    o.x = 150, o.y = 140, o.width = 90, o.height = 70, o.overrideRedirect = true, o.argbVisual = true;
    auto window = MakeWindow(o);
    ASSERT_TRUE(window);
    ASSERT_TRUE(window->Raise());
    ASSERT_TRUE(window->Paint(4));
    for (bool shm : {true, false}) {
        auto grabber = MakeGrabber(90, 70, shm);
        ASSERT_TRUE(grabber);
        Frame f(90, 70, bpp_);
        ASSERT_TRUE(grabber->Grab(150, 140, f.Pixels(), f.stride)) << grabber->LastError();
        EXPECT_NO_MISMATCH(CompareWithWindow(f, *window, 0, 0, 4, true)) << (shm ? "SHM" : "GetImage");
        Frame g(90, 70, bpp_);
        ASSERT_TRUE(GrabIntoFrameBuffer(*grabber, 150, 140, &g)) << grabber->LastError();
        EXPECT_NO_MISMATCH(CompareWithWindow(g, *window, 0, 0, 4, true)) << "into FrameBuffer()";
    }
}

TEST_F(XServer, AreasPartlyOffScreenGiveTheVisiblePartAndBlack)
{
    struct Case {
        int x, y, w, h;
    };
    // Top-left, bottom-left and top-right corners, each hanging over two edges.
    for (const Case c : {Case{-40, -30, 150, 90}, Case{-25, height_ - 60, 130, 100}, Case{width_ - 70, -45, 160, 110}}) {
        auto window = MakeOverrideWindow(c.x, c.y, c.w, c.h);
        ASSERT_TRUE(window);
        ASSERT_TRUE(window->Raise());
        ASSERT_TRUE(window->Paint(3));
        for (bool shm : {true, false}) {
            auto grabber = MakeGrabber(c.w, c.h, shm);
            ASSERT_TRUE(grabber);
            Frame f(c.w, c.h, bpp_);
            ASSERT_TRUE(grabber->Grab(c.x, c.y, f.Pixels(), f.stride)) << grabber->LastError();
            EXPECT_NO_MISMATCH(CompareWithWindow(f, *window, 0, 0, 3, true, c.x, c.y, width_, height_))
                << "area at " << c.x << "," << c.y << (shm ? " SHM" : " GetImage");
            Frame g(c.w, c.h, bpp_);
            ASSERT_TRUE(GrabIntoFrameBuffer(*grabber, c.x, c.y, &g)) << grabber->LastError();
            EXPECT_NO_MISMATCH(CompareWithWindow(g, *window, 0, 0, 3, true, c.x, c.y, width_, height_))
                << "into FrameBuffer(), area at " << c.x << "," << c.y << (shm ? " SHM" : " GetImage");
            // Nothing is written past each row's width.
            for (int y = 0; y < c.h; ++y)
                for (size_t b = static_cast<size_t>(c.w) * f.bytes; b < f.stride; ++b)
                    ASSERT_EQ(f.data[y * f.stride + b], 0xAB);
        }
    }
}

TEST_F(XServer, AreasWhollyOffScreenOrLargerThanTheScreenAreBlackOutside)
{
    auto grabber = MakeGrabber(64, 48);
    ASSERT_TRUE(grabber);
    for (auto [x, y] : {std::pair{width_, 0}, std::pair{0, height_ + 5}, std::pair{-64, -48}, std::pair{-1000000, 3}}) {
        Frame f(64, 48, bpp_);
        ASSERT_TRUE(grabber->Grab(x, y, f.Pixels(), f.stride)) << grabber->LastError();
        int nonBlack = 0;
        for (int yy = 0; yy < 48; ++yy)
            for (int xx = 0; xx < 64; ++xx)
                nonBlack += f.Colour(xx, yy) != 0;
        EXPECT_EQ(nonBlack, 0) << "area at " << x << "," << y;
    }

    // A frame wider than the screen, starting left of it, over a painted window.
    auto window = MakeOverrideWindow(0, 10, 120, 40);
    ASSERT_TRUE(window);
    ASSERT_TRUE(window->Raise());
    ASSERT_TRUE(window->Paint(9));
    auto wide = MakeGrabber(width_ + 30, 40);
    ASSERT_TRUE(wide);
    Frame f(width_ + 30, 40, bpp_);
    ASSERT_TRUE(wide->Grab(-10, 10, f.Pixels(), f.stride)) << wide->LastError();
    EXPECT_NO_MISMATCH(CompareWithWindow(f, *window, 10, 0, 9, false, -10, 10, width_, height_));
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 10; ++x)
            ASSERT_EQ(f.Colour(x, y), 0u);
        for (int x = width_ + 10; x < width_ + 30; ++x)
            ASSERT_EQ(f.Colour(x, y), 0u);
    }
}

TEST_F(XServer, ManagedWindowRectIsItsFrame)
{
    TestWindowOptions o;
    o.x = width_ / 4, o.y = height_ / 5, o.width = 240, o.height = 130, o.title = "x11 managed";
    auto window = MakeWindow(o);
    ASSERT_TRUE(window);
    const platform::WindowId frame = window->Frame();
    ASSERT_NE(frame, window->Id()) << "the window manager gave no frame";
    EXPECT_EQ(display_->TopLevelOf(window->Id()), frame);
    EXPECT_EQ(display_->TopLevelOf(frame), frame);

    // What the window manager and xwininfo say: client area plus the frame extents.
    const std::string id = std::to_string(window->Id());
    const std::string info = Shell("xwininfo -id " + id);
    const long ax = First(NumbersAfter(info, "Absolute upper-left X:"));
    const long ay = First(NumbersAfter(info, "Absolute upper-left Y:"));
    const long w = First(NumbersAfter(info, "Width:")), h = First(NumbersAfter(info, "Height:"));
    const std::string extents = Shell("xprop -id " + id + " _NET_FRAME_EXTENTS");
    const std::vector<long> e = NumbersAfter(extents, "=");
    ASSERT_EQ(e.size(), 4u) << extents;
    const long left = e[0], right = e[1], top = e[2], bottom = e[3];
    EXPECT_GT(top, 0) << "openbox draws a title bar";

    RectL rect{}, frameRect{};
    ASSERT_TRUE(display_->GetWindowRect(window->Id(), &rect)) << display_->LastError();
    ASSERT_TRUE(display_->GetWindowRect(frame, &frameRect)) << display_->LastError();
    EXPECT_EQ(rect.left, ax - left);
    EXPECT_EQ(rect.top, ay - top);
    EXPECT_EQ(rect.right, ax + w + right);
    EXPECT_EQ(rect.bottom, ay + h + bottom);
    EXPECT_EQ(std::memcmp(&rect, &frameRect, sizeof rect), 0);
    EXPECT_EQ(rect.left, o.x);
    EXPECT_EQ(rect.top, o.y);

    // The grab of the rectangle holds the client area at its place inside the frame.
    ASSERT_TRUE(window->Raise());
    ASSERT_TRUE(window->Paint(21));
    auto grabber = MakeGrabber(rect.right - rect.left, rect.bottom - rect.top);
    ASSERT_TRUE(grabber);
    Frame f(rect.right - rect.left, rect.bottom - rect.top, bpp_);
    ASSERT_TRUE(grabber->Grab(rect.left, rect.top, f.Pixels(), f.stride));
    EXPECT_NO_MISMATCH(CompareWithWindow(f, *window, ax - rect.left, ay - rect.top, 21, false));

    // Moved: the rectangle follows, and so does the grab.
    ASSERT_TRUE(window->MoveTo(o.x + 57, o.y + 31)) << window->LastError();
    RectL moved{};
    ASSERT_TRUE(display_->GetWindowRect(window->Id(), &moved));
    EXPECT_EQ(moved.left, rect.left + 57);
    EXPECT_EQ(moved.top, rect.top + 31);
    EXPECT_EQ(moved.right - moved.left, rect.right - rect.left);
    EXPECT_EQ(moved.bottom - moved.top, rect.bottom - rect.top);
    ASSERT_TRUE(window->Paint(22));
    ASSERT_TRUE(grabber->Grab(moved.left, moved.top, f.Pixels(), f.stride));
    EXPECT_NO_MISMATCH(CompareWithWindow(f, *window, ax - rect.left, ay - rect.top, 22, false));
}

TEST_F(XServer, WindowRectIncludesTheBorder)
{
    auto window = MakeOverrideWindow(70, 90, 50, 40, 3);
    ASSERT_TRUE(window);
    RectL rect{};
    ASSERT_TRUE(display_->GetWindowRect(window->Id(), &rect)) << display_->LastError();
    EXPECT_EQ(rect.left, 70);
    EXPECT_EQ(rect.top, 90);
    EXPECT_EQ(rect.right, 70 + 50 + 6);
    EXPECT_EQ(rect.bottom, 90 + 40 + 6);
    int ox = 0, oy = 0;
    ASSERT_TRUE(window->ClientOrigin(&ox, &oy));
    EXPECT_EQ(ox, 73);
    EXPECT_EQ(oy, 93);
}

TEST_F(XServer, DestroyedWindowIsReportedWithTheErrorsFields)
{
    auto window = MakeOverrideWindow(10, 10, 30, 30);
    ASSERT_TRUE(window);
    const platform::WindowId id = window->Id();
    EXPECT_TRUE(display_->WindowExists(id));
    ASSERT_TRUE(window->Destroy());

    RectL rect{1, 2, 3, 4};
    EXPECT_FALSE(display_->GetWindowRect(id, &rect));
    const std::string error = display_->LastError();
    char idText[16];
    std::snprintf(idText, sizeof idText, "0x%08x", id);
    EXPECT_NE(error.find("BadWindow (error_code 3)"), std::string::npos) << error;
    EXPECT_NE(error.find("major opcode 15"), std::string::npos) << error;  // QueryTree
    EXPECT_NE(error.find("minor opcode 0"), std::string::npos) << error;
    EXPECT_NE(error.find(std::string("resource id ") + idText), std::string::npos) << error;
    EXPECT_GT(First(NumbersAfter(error, "sequence")), 0) << error;
    EXPECT_EQ(rect.left, 1) << "the rectangle is left alone";
    EXPECT_FALSE(display_->WindowExists(id));
    EXPECT_EQ(display_->TopLevelOf(id), 0u);
    EXPECT_FALSE(display_->PostMessage(id, 7));
    EXPECT_NE(display_->LastError().find("BadWindow"), std::string::npos) << display_->LastError();
    EXPECT_FALSE(platform::PostWindowMessage(id, 7));

    // The connection goes on working.
    EXPECT_TRUE(display_->GetWindowRect(display_->Root(), &rect)) << display_->LastError();
    EXPECT_EQ(rect.right, width_);
}

TEST_F(XServer, PostedMessagesFromOtherThreadsArriveInOrder)
{
    auto window = MakeOverrideWindow(200, 200, 40, 40);
    ASSERT_TRUE(window);
    const platform::WindowId id = window->Id();
    constexpr int kCount = 200;
    std::thread poster([id] {
        auto own = XDisplay::Open();
        ASSERT_TRUE(own);
        for (int i = 0; i < kCount; ++i)
            ASSERT_TRUE(own->PostMessage(id, 32868 + i, -i, i * 100000)) << own->LastError();
    });
    poster.join();
    std::thread single([id] { EXPECT_TRUE(platform::PostWindowMessage(id, 0xFFFFFFFFu, INT32_MIN, INT32_MAX)); });
    single.join();
    for (int i = 0; i < kCount; ++i) {
        const auto m = window->WaitForMessage(std::chrono::seconds(10));
        ASSERT_TRUE(m) << "message " << i << " did not arrive";
        EXPECT_EQ(m->message, 32868u + i);
        EXPECT_EQ(m->wParam, -i);
        EXPECT_EQ(m->lParam, i * 100000);
    }
    const auto last = window->WaitForMessage(std::chrono::seconds(10));
    ASSERT_TRUE(last);
    EXPECT_EQ(last->message, 0xFFFFFFFFu);
    EXPECT_EQ(last->wParam, INT32_MIN);
    EXPECT_EQ(last->lParam, INT32_MAX);
}

TEST_F(XServer, WindowUnderPointerIsTheTopLevelFrame)
{
    TestWindowOptions o;
    o.x = width_ / 2, o.y = height_ / 3, o.width = 160, o.height = 90, o.title = "x11 pointer";
    auto window = MakeWindow(o);
    ASSERT_TRUE(window);
    int ox = 0, oy = 0;
    ASSERT_TRUE(window->ClientOrigin(&ox, &oy));
    MovePointer(ox + 20, oy + 30);
    int px = -1, py = -1;
    ASSERT_TRUE(display_->QueryPointer(&px, &py));
    EXPECT_EQ(px, ox + 20);
    EXPECT_EQ(py, oy + 30);
    EXPECT_EQ(display_->WindowUnderPointer(), window->Frame());
    EXPECT_NE(display_->WindowUnderPointer(), window->Id());
    // An empty corner of the desktop: the root itself.
    MovePointer(width_ - 3, 2);
    EXPECT_EQ(display_->WindowUnderPointer(), display_->Root());
}

TEST_F(XServer, CursorReaderReadsTheWindowsOwnCursor)
{
    auto window = MakeOverrideWindow(width_ / 2 - 100, height_ / 2 - 60, 200, 120);
    ASSERT_TRUE(window);
    ASSERT_TRUE(window->SetTestCursor(3, 5)) << window->LastError();
    int ox = 0, oy = 0;
    ASSERT_TRUE(window->ClientOrigin(&ox, &oy));
    MovePointer(ox + 41, oy + 27);

    CursorReader reader(*display_);
    CursorImage image;
    ASSERT_TRUE(reader.Read(&image)) << reader.LastError();
    EXPECT_EQ(image.x, ox + 41);
    EXPECT_EQ(image.y, oy + 27);
    EXPECT_EQ(image.xhot, 3);
    EXPECT_EQ(image.yhot, 5);
    ASSERT_EQ(image.width, TestWindow::kCursorSize);
    ASSERT_EQ(image.height, TestWindow::kCursorSize);
    ASSERT_EQ(image.argb.size(), size_t{16 * 16});
    int wrong = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            wrong += image.argb[y * 16 + x] != TestWindow::TestCursorPixel(x, y);
    EXPECT_EQ(wrong, 0) << "cursor pixels that differ";
    const uint32_t serial = image.serial;

    // Read again at another place: same image, same buffer.
    MovePointer(ox + 100, oy + 100);
    const uint32_t* buffer = image.argb.data();
    ASSERT_TRUE(reader.Read(&image));
    EXPECT_EQ(image.argb.data(), buffer);
    EXPECT_EQ(image.x, ox + 100);
    EXPECT_EQ(image.serial, serial);

    // Over the bare desktop the cursor is another one.
    MovePointer(width_ - 3, 2);
    ASSERT_TRUE(reader.Read(&image));
    EXPECT_NE(image.serial, serial);

    // Drawn into a grab of the window at the pointer minus the hot spot.
    MovePointer(ox + 50, oy + 40);
    ASSERT_TRUE(reader.Read(&image));
    ASSERT_TRUE(window->Paint(1));
    auto grabber = MakeGrabber(200, 120);
    ASSERT_TRUE(grabber);
    Frame f(200, 120, bpp_);
    ASSERT_TRUE(grabber->Grab(ox, oy, f.Pixels(), f.stride));
    if (bpp_ == 32 || bpp_ == 16) {
        DrawCursor(image, image.x - image.xhot - ox, image.y - image.yhot - oy, f.Pixels(), 200, 120, f.stride, bpp_);
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x) {
                const uint32_t c = TestWindow::TestCursorPixel(x, y);
                const int fx = 50 - 3 + x, fy = 40 - 5 + y;
                uint32_t expected = window->ExpectedFramePixel(fx, fy, 1);
                if (c)
                    expected = bpp_ == 32 ? (c & 0xFFFFFF)
                                          : ((c >> 19) & 0x1f) << 10 | ((c >> 11) & 0x1f) << 5 | ((c >> 3) & 0x1f);
                ASSERT_EQ(f.At(fx, fy), expected) << "cursor pixel " << x << "," << y;
            }
        }
    }
}

// The same server tests at the other screen depths, each in a session of its own.
TEST(ScreenDepths, ServerTestsPassAt16_15_8And30Bits)
{
    if (InNestedSession())
        GTEST_SKIP() << "already inside a nested session";
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    self[n] = 0;
    for (const char* screen : {"1024x768x16", "1024x768x15", "1024x768x8", "1024x768x30"}) {
        const std::string command = std::string("TAVREC_X11_NESTED=1 TAVREC_SESSION_QUIET=1 TAVREC_SCREEN=") +
                                    screen + " '" TAVREC_SOURCE_DIR "/tests/desktop-session.sh' '" + self +
                                    "' --gtest_filter='XServer.*' 2>&1";
        int status = 0;
        const std::string out = Shell(command, &status);
        EXPECT_EQ(status, 0) << "screen " << screen << ":\n" << out;
        EXPECT_NE(out.find("[  PASSED  ]"), std::string::npos) << out;
    }
}
