#include "annotate/ScreenDrawing.h"

#include "annotate/FreehandDrawing.h"
#include "annotate/WindowRect.h"
#include "platform/XDisplayError.h"

namespace annotate {

std::unique_ptr<ScreenDrawing> ScreenDrawing::Create(xcb_connection_t* connection, int screenNumber,
                                                     std::string* error)
{
    auto x = connection ? XConnection::Borrow(connection, screenNumber) : XConnection::Open(error);
    if (!x) {
        if (error && error->empty())
            *error = "the X connection is not usable";
        return nullptr;
    }
    return std::unique_ptr<ScreenDrawing>(new ScreenDrawing(std::move(x)));
}

ScreenDrawing::ScreenDrawing(std::unique_ptr<XConnection> x)
    : x_(std::move(x)), path_(CompositorDetect(*x_)), colour_(*x_), rootPen_(*x_), highlight_(*x_, path_)
{
}

int ScreenDrawing::FrameBitsPerPixel() const
{
    const xcb_setup_t* setup = xcb_get_setup(x_->Get());
    for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f))
        if (f.data->depth == x_->Screen()->root_depth)
            return f.data->bits_per_pixel;
    return 32;
}

bool ScreenDrawing::DrawPen(Point last, Point p, int32_t penSize, ColorRef color, const RectL& captureRect)
{
    const int32_t lineWidth = BoundedPenWidth(penSize);
    if (path_ == DrawPath::RootWindow)
        return rootPen_.DrawSegment(last, p, lineWidth, colour_.ScreenPixel(color), captureRect);
    if (!canvas_)
        canvas_ = StrokeCanvas::Create(*x_, captureRect);
    else
        canvas_->Place(captureRect);
    return canvas_ && canvas_->DrawSegment(last, p, lineWidth, ScreenColour::ArgbPixel(color));
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

bool ScreenDrawing::QueryPointer(Point* p)
{
    std::string error;
    auto reply = platform::XcbReply(x_->Get(), xcb_query_pointer(x_->Get(), x_->Root()), xcb_query_pointer_reply,
                                    "QueryPointer", &error);
    if (!reply) {
        x_->SetError(error);
        return false;
    }
    *p = Point{reply->root_x, reply->root_y};
    return true;
}

}  // namespace annotate
