// A window for tests that check recorded pixels: it shows a known picture (colour bars
// with a per-pixel pattern and a frame counter), repaints it on Expose, can be moved,
// can carry a cursor whose image and hot spot are known, and receives the
// TAVREC_MESSAGE ClientMessages posted to it. It runs its own X connection and an
// event thread, so the test's own connections are not involved.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/x11/XDisplay.h"

namespace testsupport {

struct TestWindowOptions {
    int x = 100;  // requested top-left: of the frame for a managed window
    int y = 100;
    int width = 320;  // client area
    int height = 240;
    bool overrideRedirect = false;  // true: not managed, no frame, exactly at (x, y)
    int borderWidth = 0;
    // A 32-bit ARGB visual whose pixels carry alpha 0x80, as toolkits' translucent
    // windows do; without a compositor that alpha lands in the screen's fourth byte.
    // Only on screens of 32 bits per pixel.
    bool argbVisual = false;
    std::string title = "Tavrec test window";
};

struct TestMessage {
    uint32_t message = 0;
    int32_t wParam = 0;
    int32_t lParam = 0;
};

class TestWindow {
public:
    // Maps the window, waits until it is viewable and paints frame 0. Null on failure.
    static std::unique_ptr<TestWindow> Create(const TestWindowOptions& options = {},
                                              std::string* error = nullptr);
    ~TestWindow();  // destroys the window (if still there) and closes the connection
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    platform::WindowId Id() const;
    int Width() const;
    int Height() const;
    // Bits per pixel of the screen, as a grab of it delivers them.
    int BitsPerPixel() const;

    // Root coordinates of the client area's top-left pixel.
    bool ClientOrigin(int* x, int* y);
    // The top-level window that holds this one (the window manager's frame, or itself).
    platform::WindowId Frame();

    // Shows the picture of frame n; returns once the server has drawn it.
    bool Paint(uint32_t frame);
    uint32_t CurrentFrame() const;
    // Colour (0xRRGGBB) of the client pixel (x, y) in frame n.
    uint32_t ColorAt(int x, int y, uint32_t frame) const;
    // The value a grab of this screen holds for that pixel, in the frame layout: 32 bpp
    // 0x00RRGGBB words (bytes B, G, R, 0), 16 bpp RGB 5-5-5 words, 8 bpp colormap indices.
    uint32_t ExpectedFramePixel(int x, int y, uint32_t frame) const;

    // Moves the window (its frame, when managed) to (x, y) and waits until it is there.
    bool MoveTo(int x, int y);
    bool Raise();

    // Gives the window the test cursor with the hot spot at (xhot, yhot).
    bool SetTestCursor(int xhot, int yhot);
    static constexpr int kCursorSize = 16;
    // Premultiplied ARGB of the test cursor's pixel (x, y), as XFixes reports it.
    static uint32_t TestCursorPixel(int x, int y);

    // The next TAVREC_MESSAGE received, in order; nothing when none comes in time.
    std::optional<TestMessage> WaitForMessage(std::chrono::milliseconds timeout);

    // Destroys the window now and waits until the server has done it.
    bool Destroy();
    std::string LastError() const;

    struct Impl;

private:
    explicit TestWindow(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace testsupport
