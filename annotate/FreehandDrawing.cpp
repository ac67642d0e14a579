#include "annotate/FreehandDrawing.h"

#include <algorithm>

namespace annotate {

namespace {

void OverlayFrameHook(void* object, FrameSurface* frame, int32_t width, int32_t height, bool* refreshFrame)
{
    static_cast<FreehandDrawing*>(object)->OverlayFrame(frame, width, height, refreshFrame);
}

RectL SegmentRect(Point a, Point b, int32_t lineWidth)
{
    return RectL{std::min(a.x, b.x) - lineWidth, std::min(a.y, b.y) - lineWidth,
                 std::max(a.x, b.x) + lineWidth, std::max(a.y, b.y) + lineWidth};
}

}  // namespace

int32_t BoundedPenWidth(int32_t penSize) { return std::clamp(penSize, 1, kMaxPenWidth); }
int32_t BoundedEraserWidth(int32_t eraserSize) { return std::clamp(eraserSize, 1, kMaxEraserWidth); }

void FreehandDrawing::CreateDrawOverlay(const RectL& captureRect, int bitsPerPixel)
{
    std::lock_guard lock(DrawLock);
    overlay_.emplace(captureRect.right - captureRect.left, captureRect.bottom - captureRect.top, bitsPerPixel);
    DirtyRect = EmptyRect();
    drawnArea_ = EmptyRect();
    RequestRefresh();
}

void FreehandDrawing::RequestRefresh()
{
    refreshAskedAt_.store(std::chrono::steady_clock::now().time_since_epoch().count());
    RefreshPending.store(true);
}

void FreehandDrawing::ReleaseDrawOverlay()
{
    std::lock_guard lock(DrawLock);
    overlay_.reset();
    DirtyRect = EmptyRect();
    drawnArea_ = EmptyRect();
}

bool FreehandDrawing::HasOverlay()
{
    std::lock_guard lock(DrawLock);
    return overlay_.has_value();
}

// Overlay coordinates of a root point. A point left of or above the window lands on
// column or row 0; beyond the right and bottom the layers cut it off.
Point FreehandDrawing::ToOverlay(Point p, const RectL& captureRect)
{
    return Point{std::max(p.x - captureRect.left, 0), std::max(p.y - captureRect.top, 0)};
}

void FreehandDrawing::PenStep(Point last, Point p, const RectL& captureRect, int32_t penSize, uint32_t framePixel)
{
    const Point a = ToOverlay(last, captureRect), b = ToOverlay(p, captureRect);
    const int32_t lineWidth = BoundedPenWidth(penSize);
    std::lock_guard lock(DrawLock);
    if (!overlay_)
        return;
    overlay_->Pen(a, b, lineWidth, framePixel);
    const RectL segment = SegmentRect(a, b, lineWidth);
    drawnArea_ = Union(drawnArea_, segment);
    if (UseFastDraw.load())
        DirtyRect = Union(DirtyRect, segment);
    // RefreshPending is left as it is: a fresh grab asked for by a clear must still
    // happen, or the recording would keep the lines the clear removed.
}

void FreehandDrawing::EraserStep(Point last, Point p, const RectL& captureRect, int32_t eraserSize)
{
    const Point a = ToOverlay(last, captureRect), b = ToOverlay(p, captureRect);
    std::lock_guard lock(DrawLock);
    if (overlay_)
        overlay_->Erase(a, b, BoundedEraserWidth(eraserSize));
}

void FreehandDrawing::ClearDrawing()
{
    {
        std::lock_guard lock(DrawLock);
        if (overlay_)
            overlay_->Clear();
        DirtyRect = EmptyRect();
        drawnArea_ = EmptyRect();
    }
    RequestRefresh();
}

void FreehandDrawing::OverlayFrame(FrameSurface* frame, int32_t width, int32_t height, bool* refreshFrame)
{
    // Without fast drawing every frame is grabbed and shows the lines as they stand
    // on the screen (a window that repaints over a line removes it from the
    // recording too).
    if (!UseFastDraw.load())
        return;
    if (!*refreshFrame) {
        // The kept frame already holds everything drawn before: add the new lines.
        std::lock_guard lock(DrawLock);
        if (!overlay_ || !frame) {
            *refreshFrame = true;
            return;
        }
        FrameSurface target = *frame;
        target.Width = std::min(width, frame->Width);
        target.Height = std::min(height, frame->Height);
        overlay_->AddTo(target, DirtyRect);
        DirtyRect = EmptyRect();
    }
    // The next frame: kept while drawing and no refresh is owed, else grabbed.
    // exchange() so a refresh asked for meanwhile is never lost. A frame grabbed
    // afresh serves a refresh asked for before its grab; one asked for in the last
    // moments may have come after the grab and is owed to the next frame. (A refresh
    // served by this frame must not make the next one a grab too: in Speedup Mode the
    // next frame may come only with the next change of the screen, seconds later,
    // and the drawing's kept frame would be lost to it.)
    bool owed = RefreshPending.exchange(false);
    if (owed && *refreshFrame) {
        const auto askedAt = std::chrono::steady_clock::time_point(
            std::chrono::steady_clock::duration(refreshAskedAt_.load()));
        owed = std::chrono::steady_clock::now() - askedAt < kGrabTime;
    }
    *refreshFrame = !(DrawMode.load() && !owed);
    if (DrawTool.load() == dtEraser)
        *refreshFrame = true;
}

OnFrameMethod FreehandDrawing::OnFrame() { return OnFrameMethod{&OverlayFrameHook, this}; }

RectL FreehandDrawing::DrawnArea()
{
    std::lock_guard lock(DrawLock);
    return drawnArea_;
}

bool FreehandDrawing::AddDrawingTo(FrameSurface& target, Point origin)
{
    std::lock_guard lock(DrawLock);
    return overlay_ && overlay_->AddTo(target, drawnArea_, origin);
}

RectL FreehandDrawing::DirtyRectNow()
{
    std::lock_guard lock(DrawLock);
    return DirtyRect;
}

uint32_t FreehandDrawing::ColourAt(int32_t x, int32_t y)
{
    std::lock_guard lock(DrawLock);
    return overlay_ ? overlay_->ColourLayer().At(x, y) : 0;
}

uint32_t FreehandDrawing::MaskAt(int32_t x, int32_t y)
{
    std::lock_guard lock(DrawLock);
    return overlay_ ? overlay_->MaskLayer().At(x, y) : 0;
}

}  // namespace annotate
