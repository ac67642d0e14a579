// The draw hook's window: input-only and override-redirect, so that it draws nothing
// (also under a compositing manager, which composites only windows that have output)
// and no window manager frames or moves it. It takes the button and motion events of
// the area it covers, less what its input shape leaves out. Destroyed with the object.
#pragma once

#include <xcb/xcb.h>

#include <memory>
#include <optional>

#include "tavrechcore/ScreenRect.h"

namespace hookcore {

class XConnection;

class InputWindow {
public:
    // Unmapped, at (0, 0) of the root with the given size; null (reported) on failure.
    static std::unique_ptr<InputWindow> Create(XConnection& x, uint16_t width, uint16_t height,
                                               xcb_cursor_t cursor);
    ~InputWindow();
    InputWindow(const InputWindow&) = delete;
    InputWindow& operator=(const InputWindow&) = delete;

    xcb_window_t Id() const { return window_; }
    bool Mapped() const { return mapped_; }
    int Width() const { return width_; }
    int Height() const { return height_; }

    void Map();
    void Unmap();
    void Raise();
    void Resize(uint16_t width, uint16_t height);
    void SetCursor(xcb_cursor_t cursor);
    // Input over the whole window except hole.
    void SetInputArea(const std::optional<ScreenRect>& hole);

private:
    InputWindow(XConnection& x, xcb_window_t window, uint16_t width, uint16_t height)
        : x_(x), window_(window), width_(width), height_(height)
    {
    }

    XConnection& x_;
    xcb_window_t window_;
    int width_;
    int height_;
    bool mapped_ = false;
    bool shapeChecked_ = false;
    bool hasShape_ = false;
};

}  // namespace hookcore
