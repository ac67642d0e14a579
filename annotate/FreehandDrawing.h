// The drawing the user makes while recording, shared between the UI thread (stroke
// steps, clearing, creating and releasing the overlay) and the capture library's
// video thread (OverlayFrame through OnFrame). DrawLock guards the overlay,
// DirtyRect and the drawn area; the flags both threads read are atomics.
//
// UI thread: CreateDrawOverlay, ReleaseDrawOverlay, PenStep, EraserStep,
// ClearDrawing, RequestRefresh, and the flags DrawMode, DrawTool, UseFastDraw.
// Video thread: OverlayFrame only (via OnFrame()). It touches no X and no Qt,
// allocates nothing, and holds DrawLock for one pass over the frame at most.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>

#include "annotate/DrawGeometry.h"
#include "annotate/DrawOverlay.h"
#include "engine/korvid.h"

namespace annotate {

enum DrawToolKind : int32_t { dtPen = 0, dtEraser = 1 };

// Widths actually drawn; the stored PenSize and EraserSize keep their values.
inline constexpr int32_t kMaxPenWidth = 64;
inline constexpr int32_t kMaxEraserWidth = 512;
int32_t BoundedPenWidth(int32_t penSize);
int32_t BoundedEraserWidth(int32_t eraserSize);

class FreehandDrawing {
public:
    FreehandDrawing() = default;
    FreehandDrawing(const FreehandDrawing&) = delete;
    FreehandDrawing& operator=(const FreehandDrawing&) = delete;

    // The overlay for a recording of a window whose rectangle is captureRect, in the
    // frames' pixel format. Replaces an earlier one. Sets RefreshPending.
    void CreateDrawOverlay(const RectL& captureRect, int bitsPerPixel);
    // Drops the overlay under DrawLock, so a late frame finds none rather than a
    // freed one.
    void ReleaseDrawOverlay();
    bool HasOverlay();

    // One pen step from last to p (root coordinates), the capture window being at
    // captureRect now. framePixel is PenColor in the frames' format.
    void PenStep(Point last, Point p, const RectL& captureRect, int32_t penSize, uint32_t framePixel);
    // One eraser step: wipes the overlay along the whole segment.
    void EraserStep(Point last, Point p, const RectL& captureRect, int32_t eraserSize);
    // Empties the whole overlay and asks for a fresh grab.
    void ClearDrawing();
    // Asks for a fresh grab of the next frame (e.g. once late redraws have landed).
    void RequestRefresh();

    // Called by the video thread for every frame; *refreshFrame is true when this
    // frame was grabbed and receives whether the next one is grabbed.
    void OverlayFrame(FrameSurface* frame, int32_t width, int32_t height, bool* refreshFrame);
    // The OnFrame method for CaptureContext, with this object.
    OnFrameMethod OnFrame();

    // Everything drawn with the pen since the last clear, in overlay coordinates.
    RectL DrawnArea();
    // Adds the whole drawing to target, whose pixel (0, 0) shows overlay point origin
    // (the screen's pixels when the drawing is painted back onto it).
    bool AddDrawingTo(FrameSurface& target, Point origin);

    // Union of pen segments not yet added to a kept frame (a copy, under DrawLock).
    RectL DirtyRectNow();
    // Copies of a layer pixel, for checking the drawing (under DrawLock).
    uint32_t ColourAt(int32_t x, int32_t y);
    uint32_t MaskAt(int32_t x, int32_t y);

    std::atomic<bool> DrawMode{false};
    std::atomic<int32_t> DrawTool{dtPen};
    std::atomic<bool> UseFastDraw{false};
    std::atomic<bool> RefreshPending{false};
    std::mutex DrawLock;

private:
    static Point ToOverlay(Point p, const RectL& captureRect);

    // A fresh frame handed to OverlayFrame was grabbed at most this long before: a
    // refresh asked for earlier than that is served by it.
    static constexpr std::chrono::milliseconds kGrabTime{100};

    std::optional<DrawOverlay> overlay_;
    RectL DirtyRect = EmptyRect();
    RectL drawnArea_ = EmptyRect();  // everything drawn with the pen since the last clear
    std::atomic<std::chrono::steady_clock::rep> refreshAskedAt_{0};  // the last RequestRefresh
};

}  // namespace annotate
