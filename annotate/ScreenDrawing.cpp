#include "annotate/ScreenDrawing.h"

#include <algorithm>
#include <vector>

#include "annotate/FreehandDrawing.h"
#include "annotate/WindowRect.h"
#include "platform/x11/XDisplayError.h"

namespace annotate {

std::unique_ptr<ScreenDrawing> ScreenDrawing::Create(std::string* error)
{
    auto x = XConnection::Open(error);
    if (!x)
        return nullptr;
    return std::unique_ptr<ScreenDrawing>(new ScreenDrawing(std::move(x)));
}

ScreenDrawing::ScreenDrawing(std::unique_ptr<XConnection> x)
    : x_(std::move(x)),
      path_(CompositorDetect(*x_)),
      colour_(*x_),
      rootPen_(*x_),
      highlight_(std::make_unique<WindowHighlight>(*x_, path_))
{
}

DrawPath ScreenDrawing::DetectPath()
{
    const DrawPath now = CompositorDetect(*x_);
    if (now != path_) {
        highlight_.reset();  // takes its frames off in the old way first
        canvas_.reset();
        path_ = now;
        highlight_ = std::make_unique<WindowHighlight>(*x_, path_);
    }
    return path_;
}

int ScreenDrawing::FrameBitsPerPixel() const { return x_->Display().RootBitsPerPixel(); }

bool ScreenDrawing::DrawPen(Point last, Point p, int32_t penSize, ColorRef color, const RectL& captureRect)
{
    const int32_t lineWidth = BoundedPenWidth(penSize);
    if (path_ == DrawPath::RootWindow)
        return rootPen_.DrawSegment(last, p, lineWidth, colour_.ScreenPixel(color), captureRect);
    return EnsureCanvas(captureRect) && canvas_->DrawSegment(last, p, lineWidth, ScreenColour::ArgbPixel(color));
}

bool ScreenDrawing::EnsureCanvas(const RectL& captureRect)
{
    if (!canvas_)
        canvas_ = StrokeCanvas::Create(*x_, captureRect);
    else
        canvas_->Place(captureRect);
    return canvas_ != nullptr;
}

bool ScreenDrawing::RedrawDrawing(FreehandDrawing& drawing, const RectL& captureRect)
{
    // The drawn area in root coordinates, on the screen and inside the window.
    const RectL drawn = drawing.DrawnArea();
    if (IsEmpty(drawn))
        return true;
    const xcb_screen_t* screen = x_->Screen();
    RectL area{drawn.left + captureRect.left, drawn.top + captureRect.top, drawn.right + captureRect.left,
               drawn.bottom + captureRect.top};
    area = RectL{std::max(area.left, captureRect.left), std::max(area.top, captureRect.top),
                 std::min(area.right, captureRect.right), std::min(area.bottom, captureRect.bottom)};
    area = ClipTo(area, screen->width_in_pixels, screen->height_in_pixels);
    if (IsEmpty(area))
        return true;
    const int32_t width = area.right - area.left, height = area.bottom - area.top;
    const Point origin{area.left - captureRect.left, area.top - captureRect.top};

    if (path_ == DrawPath::CompositorCanvas) {
        // Opaque where drawn, transparent elsewhere: a frame of 0xFF000000 keeps its
        // alpha byte where nothing is drawn and takes the stroke colour (alpha 0)
        // under strokes; flipping the alpha byte then gives exactly that.
        if (FrameBitsPerPixel() != 32 || !EnsureCanvas(captureRect))
            return false;
        std::vector<uint32_t> pixels(static_cast<size_t>(width) * height, 0xFF000000u);
        FrameSurface surface{reinterpret_cast<uint8_t*>(pixels.data()), width, height, width * 4, 32};
        drawing.AddDrawingTo(surface, origin);
        for (uint32_t& p : pixels)
            p ^= 0xFF000000u;
        const RectL at{area.left - canvas_->Area().left, area.top - canvas_->Area().top, 0, 0};
        return PutImage(canvas_->Id(), 32, RectL{at.left, at.top, at.left + width, at.top + height},
                        reinterpret_cast<const uint8_t*>(pixels.data()), static_cast<size_t>(width) * 4);
    }

    std::string error;
    auto image = platform::XcbReply(
        x_->Get(),
        xcb_get_image(x_->Get(), XCB_IMAGE_FORMAT_Z_PIXMAP, x_->Root(), static_cast<int16_t>(area.left),
                      static_cast<int16_t>(area.top), static_cast<uint16_t>(width), static_cast<uint16_t>(height),
                      ~0u),
        xcb_get_image_reply, "GetImage (redraw)", &error);
    if (!image) {
        x_->SetError(error);
        return false;
    }
    uint8_t* data = xcb_get_image_data(image.get());
    const size_t stride = static_cast<size_t>(xcb_get_image_data_length(image.get())) / height;
    FrameSurface surface{data, width, height, static_cast<int32_t>(stride), FrameBitsPerPixel()};
    if (!drawing.AddDrawingTo(surface, origin))
        return true;  // nothing of the drawing lies here
    return PutImage(x_->Root(), screen->root_depth, area, data, stride);
}

// Puts rows of a Z-pixmap image, in strips that fit the server's request length.
bool ScreenDrawing::PutImage(xcb_drawable_t target, uint8_t depth, const RectL& at, const uint8_t* pixels,
                             size_t stride)
{
    xcb_connection_t* c = x_->Get();
    const xcb_gcontext_t gc = xcb_generate_id(c);
    const uint32_t values[] = {XCB_SUBWINDOW_MODE_INCLUDE_INFERIORS, 0};
    if (!x_->Check(xcb_create_gc_checked(c, gc, target, XCB_GC_SUBWINDOW_MODE | XCB_GC_GRAPHICS_EXPOSURES, values),
                   "CreateGC (redraw)"))
        return false;
    XGc owned(c, gc);
    const size_t maxBytes = static_cast<size_t>(xcb_get_maximum_request_length(c)) * 4 - 64;
    const int32_t height = at.bottom - at.top;
    const int32_t rowsPerStrip = std::max<int32_t>(1, static_cast<int32_t>(std::min<size_t>(maxBytes / stride, height)));
    bool ok = true;
    for (int32_t row = 0; row < height && ok; row += rowsPerStrip) {
        const int32_t rows = std::min(rowsPerStrip, height - row);
        ok = x_->Check(xcb_put_image_checked(c, XCB_IMAGE_FORMAT_Z_PIXMAP, target, gc,
                                             static_cast<uint16_t>(at.right - at.left), static_cast<uint16_t>(rows),
                                             static_cast<int16_t>(at.left), static_cast<int16_t>(at.top + row), 0,
                                             depth, static_cast<uint32_t>(stride * rows),
                                             pixels + stride * static_cast<size_t>(row)),
                       "PutImage (redraw)");
    }
    return ok;
}

RepaintResult ScreenDrawing::Erase(Point last, Point p, int32_t eraserSize, const RectL& captureRect)
{
    const int32_t lineWidth = BoundedEraserWidth(eraserSize);
    if (path_ == DrawPath::CompositorCanvas) {
        if (canvas_)
            return RepaintResult{canvas_->EraseSegment(last, p, lineWidth), std::chrono::milliseconds{0}};
        return RepaintResult{true, std::chrono::milliseconds{0}};
    }
    // The square caps reach half the width past each end, in any direction.
    const int32_t reach = lineWidth / 2 + lineWidth / 4 + 2;
    RectL box{std::min(last.x, p.x) - reach, std::min(last.y, p.y) - reach, std::max(last.x, p.x) + reach + 1,
              std::max(last.y, p.y) + reach + 1};
    box = RectL{std::max(box.left, captureRect.left), std::max(box.top, captureRect.top),
                std::min(box.right, captureRect.right), std::min(box.bottom, captureRect.bottom)};
    if (IsEmpty(box))
        return RepaintResult{true, std::chrono::milliseconds{0}};
    return RepaintScreen(*x_, box);
}

RepaintResult ScreenDrawing::RepaintWholeScreen()
{
    if (canvas_)
        canvas_->Clear();
    return RepaintScreen(*x_);
}

bool ScreenDrawing::WindowRect(xcb_window_t window, RectL* rect) { return GetWindowRect(*x_, window, rect); }

}  // namespace annotate
