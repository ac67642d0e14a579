#include "tavrechcore/InputWindow.h"

#include <xcb/shape.h>

#include <algorithm>
#include <vector>

#include "tavrechcore/XConnection.h"

namespace hookcore {

namespace {

constexpr uint32_t kInputEvents =
    XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE | XCB_EVENT_MASK_BUTTON_MOTION;

xcb_rectangle_t Rect(int x, int y, int width, int height)
{
    return xcb_rectangle_t{static_cast<int16_t>(x), static_cast<int16_t>(y), static_cast<uint16_t>(width),
                           static_cast<uint16_t>(height)};
}

// The window's area (0, 0, width, height) less the hole, as up to four bands: above,
// left of, right of and below the hole.
std::vector<xcb_rectangle_t> AreaWithout(int width, int height, const std::optional<ScreenRect>& hole)
{
    if (!hole)
        return {Rect(0, 0, width, height)};
    const int left = std::clamp(hole->x, 0, width);
    const int right = std::clamp(hole->x + hole->width, 0, width);
    const int top = std::clamp(hole->y, 0, height);
    const int bottom = std::clamp(hole->y + hole->height, 0, height);
    if (left >= right || top >= bottom)
        return {Rect(0, 0, width, height)};
    std::vector<xcb_rectangle_t> bands;
    if (top > 0)
        bands.push_back(Rect(0, 0, width, top));
    if (left > 0)
        bands.push_back(Rect(0, top, left, bottom - top));
    if (right < width)
        bands.push_back(Rect(right, top, width - right, bottom - top));
    if (bottom < height)
        bands.push_back(Rect(0, bottom, width, height - bottom));
    return bands;
}

}  // namespace

std::unique_ptr<InputWindow> InputWindow::Create(XConnection& x, uint16_t width, uint16_t height,
                                                 xcb_cursor_t cursor)
{
    xcb_connection_t* c = x.Get();
    const xcb_window_t window = xcb_generate_id(c);
    // Value order follows the mask bits: override-redirect, event mask, cursor.
    const uint32_t values[] = {1, kInputEvents, cursor};
    if (!x.Check(xcb_create_window_checked(c, XCB_COPY_FROM_PARENT, window, x.Root(), 0, 0, width, height, 0,
                                           XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT,
                                           XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK | XCB_CW_CURSOR, values),
                 "CreateWindow of the draw hook"))
        return nullptr;
    return std::unique_ptr<InputWindow>(new InputWindow(x, window, width, height));
}

InputWindow::~InputWindow()
{
    xcb_destroy_window(x_.Get(), window_);
    // Destroyed for certain before the caller goes on (tests and the program look for it).
    x_.Sync();
}

void InputWindow::Map()
{
    if (mapped_)
        return;
    xcb_map_window(x_.Get(), window_);
    mapped_ = true;
}

void InputWindow::Unmap()
{
    if (!mapped_)
        return;
    xcb_unmap_window(x_.Get(), window_);
    mapped_ = false;
}

void InputWindow::Raise()
{
    const uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(x_.Get(), window_, XCB_CONFIG_WINDOW_STACK_MODE, &above);
}

void InputWindow::Resize(uint16_t width, uint16_t height)
{
    const uint32_t size[] = {width, height};
    xcb_configure_window(x_.Get(), window_, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, size);
    width_ = width;
    height_ = height;
}

void InputWindow::SetCursor(xcb_cursor_t cursor)
{
    xcb_change_window_attributes(x_.Get(), window_, XCB_CW_CURSOR, &cursor);
}

void InputWindow::SetInputArea(const std::optional<ScreenRect>& hole)
{
    if (!shapeChecked_) {
        shapeChecked_ = true;
        const xcb_query_extension_reply_t* shape = xcb_get_extension_data(x_.Get(), &xcb_shape_id);
        hasShape_ = shape && shape->present;
        if (!hasShape_)
            ReportProblem("the X server has no SHAPE extension: the draw hook covers the tool window too");
    }
    if (!hasShape_)
        return;
    const std::vector<xcb_rectangle_t> bands = AreaWithout(width_, height_, hole);
    xcb_shape_rectangles(x_.Get(), XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT, XCB_CLIP_ORDERING_YX_BANDED, window_, 0,
                         0, bands.size(), bands.data());
}

}  // namespace hookcore
