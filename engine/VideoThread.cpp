// The video capture thread: at every frame slot it grabs the capture window's area
// of the screen into a free frame buffer, lets the program draw on the frame
// (OnFrame), draws the cursor and queues the frame for the frame writer, which
// compresses it (or keeps it uncompressed) and writes it at the stream position of
// its slot on a thread of its own. The slot clock never waits for the writer: a slot
// that finds every buffer still queued or being written stays an empty position.
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/BitmapInformation.h"
#include "engine/CaptureThreads.h"
#include "engine/ContextAccess.h"
#include "engine/FrameChanges.h"
#include "engine/FrameQueue.h"
#include "engine/FrameWriter.h"
#include "engine/LastError.h"
#include "engine/PortalCapture.h"
#include "engine/StreamSetup.h"
#include "platform/x11/CursorImage.h"
#include "platform/x11/ScreenGrabber.h"
#include "platform/x11/ScreenPalette.h"
#include "platform/sync/TickCount.h"
#include "platform/x11/XDisplay.h"

namespace korvid {

namespace {

// The compressor's last answer to the default-quality question, kept library-wide.
std::atomic<uint32_t> g_defaultQuality{0};

// How often the thread looks at RunEvent while it waits for the next slot. A pause
// then ends the picture within this time of the request, as the audio thread ends
// the sound, so pauses do not shift the picture against the sound however long a
// frame interval is.
constexpr uint32_t kRunPollMs = 10;

// Frame buffers: one being built, one waiting, one being written.
constexpr int kFrameBuffers = 3;

// The pixels under the cursor, saved before it is drawn into a frame that is kept and
// put back before the kept frame is used again. The saved area is the cursor image's own size, clipped to the
// frame, so that a large cursor leaves no trace in frames that are kept.
class CursorPatch {
public:
    void Save(const FrameSurface& frame, int x, int y, int width, int height)
    {
        const int left = std::max(x, 0), top = std::max(y, 0);
        const int right = std::min(x + width, frame.Width), bottom = std::min(y + height, frame.Height);
        saved_ = right > left && bottom > top;
        if (!saved_)
            return;
        left_ = left;
        top_ = top;
        rowBytes_ = static_cast<size_t>(right - left) * frame.BitsPerPixel / 8;
        rows_ = bottom - top;
        if (pixels_.size() < rowBytes_ * rows_)
            pixels_.resize(rowBytes_ * rows_);  // grows only when a larger cursor appears
        for (int row = 0; row < rows_; ++row)
            std::memcpy(&pixels_[row * rowBytes_], Address(frame, row), rowBytes_);
    }

    void Clear() { saved_ = false; }

    void Restore(const FrameSurface& frame)
    {
        if (!saved_)
            return;
        for (int row = 0; row < rows_; ++row)
            std::memcpy(Address(frame, row), &pixels_[row * rowBytes_], rowBytes_);
        saved_ = false;
    }

private:
    uint8_t* Address(const FrameSurface& frame, int row) const
    {
        return frame.Pixels + static_cast<size_t>(top_ + row) * frame.Stride +
               static_cast<size_t>(left_) * frame.BitsPerPixel / 8;
    }

    std::vector<uint8_t> pixels_ = std::vector<uint8_t>(64 * 64 * 4);
    bool saved_ = false;
    int left_ = 0, top_ = 0, rows_ = 0;
    size_t rowBytes_ = 0;
};

// Sets the unused fourth byte of a row of 32-bit pixels to 0xFF, in place. Windows
// ignores that byte of an uncompressed frame, but ffmpeg-based players read such a
// stream as BGRA: with the byte left as the screen gives it they show the picture
// transparent, or black.
void MakeRowOpaque(uint8_t* row, size_t pixels)
{
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    for (; i + 4 <= pixels; i += 4) {
        auto* p = reinterpret_cast<__m128i*>(row + 4 * i);
        _mm_storeu_si128(p, _mm_or_si128(_mm_loadu_si128(p), opaque));
    }
#endif
    for (; i < pixels; ++i)
        row[4 * i + 3] = 0xFF;
}

// Milliseconds of recording time at which slot k begins: the first whole
// millisecond e with e * fps / 1000 >= k.
uint64_t SlotStart(uint64_t slot, uint32_t fps)
{
    return (slot * 1000 + fps - 1) / fps;
}

// Everything the video thread owns for one recording, made once at start-up.
class VideoCapture {
public:
    explicit VideoCapture(CaptureContext* context)
        : context_(context), options_(context->Options), notify_(options_->NotifyWindow) {}

    ~VideoCapture()
    {
        writer_.reset();  // every queued frame is written before the stream goes
        if (stream_)
            stream_->Release();
        if (compressor_ && begun_)
            compressor_->End();
        ReleaseBitmapInfo(format_);
    }

    bool SetUp();
    uint32_t Run();

private:
    enum class Wake { Due, End };
    // Waits until `wait` milliseconds have passed, a pause was asked for or the stop
    // request came (Due), or ReserveEvent was set or a wait failed (End).
    Wake WaitForSlot(uint32_t wait);
    bool SetUpX11();
    bool SetUpPortal();
    // mustBuild: wait for a free buffer rather than leave the slot empty (the last slot).
    bool BuildFrame(uint32_t slot, bool mustBuild = false);
    // Writes the last frame built again, at the slot (waiting for a free buffer).
    void RepeatKeptFrame(uint32_t slot);
    FrameSurface SurfaceOf(int buffer) const;
    // Brings the frame in `frame` up to date from the screen source: whole, or only the
    // parts Speedup Mode found changed.
    bool Grab(FrameChanges::Step step, const FrameSurface& frame);
    const std::string& GrabError() const { return portal_ ? portal_->LastError() : grabber_->LastError(); }
    void ReportScreenError(const char* text, const std::string& reason);

    CaptureContext* context_;
    const CaptureOptions* options_;
    KorvidWindow notify_;

    BitmapInfoHeader* format_ = nullptr;
    platform::AviStream* stream_ = nullptr;
    std::unique_ptr<platform::XDisplay> display_;
    std::unique_ptr<platform::ScreenGrabber> grabber_;
    std::unique_ptr<platform::CursorReader> cursorReader_;
    std::unique_ptr<platform::ScreenPalette> palette_;  // 8-bit screens only
    // The desktop portal's screen cast, when it is the source instead of the X11 grab
    // (then there is no display_, grabber_ or cursorReader_).
    std::unique_ptr<platform::PortalScreenSource> portal_;
    platform::CursorImage cursor_;
    CursorPatch cursorPatch_;

    KorvidWindow window_ = 0;
    RectL rect_{};      // last known rectangle: a window destroyed while recording keeps it
    FrameSurface frame_{};  // the frames' size and layout; the pixels are a queue buffer's
    std::vector<uint8_t*> buffers_;     // the queue's frame buffers, kFrameBuffers of them
    std::vector<uint8_t> portalFrames_;  // where they lie for the portal's frames

    std::unique_ptr<platform::Compressor> compressor_;
    bool begun_ = false;
    std::vector<uint8_t> outputFormat_;

    std::unique_ptr<FrameQueue> queue_;
    std::unique_ptr<FrameWriter> writer_;
    bool refreshFrame_ = true;
    std::unique_ptr<FrameChanges> changes_;  // Speedup Mode; null without it
    int kept_ = -1;  // the buffer of the last frame built, which the next may build on
    bool lastSkipped_ = false;  // the last slot was left an empty position
};

bool VideoCapture::SetUp()
{
    // The frame format is read once: the stream is described by it and every frame is
    // built in it, so a window or screen that changes size meanwhile cannot give a
    // header of one size over frames of another.
    portal_ = TakePortalSource(context_);
    if (portal_)
        format_ = PortalFrameFormat(*portal_);
    if (HasRegion(*options_)) {
        if (portal_) {
            ReportCaptureError(notify_, "Capture region needs the X11 screen grab");
            return false;
        }
        const RegionFormat made = GetRegionInformation(*options_, &format_);
        if (made != RegionFormat::Made) {
            ReportCaptureError(notify_, made == RegionFormat::OffScreen ? "Capture region lies outside the screen"
                                                                        : "Failed to get bitmap information");
            return false;
        }
    } else if (portal_ ? !format_ : GetBitmapInformation(options_->CaptureWindow, &format_) != 1) {
        ReportCaptureError(notify_, "Failed to get bitmap information");
        return false;
    }
    // The compressor the stream was described with is the one that compresses, with
    // the output format the stream was given.
    if (!CreateVideoStream(options_, AviFileOf(context_), format_, &stream_, &compressor_, &outputFormat_))
        return false;

    // The frame keeps the size the window had when the stream was described.
    frame_.Width = format_->biWidth;
    frame_.Height = format_->biHeight;
    frame_.BitsPerPixel = format_->biBitCount;
    if (portal_ ? !SetUpPortal() : !SetUpX11())
        return false;

    FrameLayout layout;
    layout.stride = static_cast<size_t>(frame_.Stride);
    layout.height = frame_.Height;
    layout.fileRowBytes = format_->biSizeImage / static_cast<uint32_t>(format_->biHeight);
    for (uint8_t* buffer : buffers_) {
        layout.buffers.push_back(buffer);
        std::memset(buffer, 0, layout.stride * static_cast<size_t>(frame_.Height));
    }
    uint32_t quality = 0;
    if (compressor_) {
        g_defaultQuality.store(compressor_->DefaultQuality());
        quality = g_defaultQuality.load();
        // Frames are compressed on the writer's thread, so an encoder may take more
        // than one at once: its packets then come late and are written where they belong.
        if (!compressor_->Begin(*format_, outputFormat_.data(), static_cast<uint32_t>(outputFormat_.size()),
                                true)) {
            ReportCaptureError(notify_, "VCM begin error");
            return false;
        }
        begun_ = true;
    }
    queue_ = std::make_unique<FrameQueue>(kFrameBuffers);
    writer_ = std::make_unique<FrameWriter>(*queue_, std::move(layout), stream_, compressor_.get(), quality, notify_);
    writer_->Start();
    StoreState(context_, StateVideoReady);
    return true;
}

bool VideoCapture::SetUpX11()
{
    std::string error;
    display_ = platform::XDisplay::Open(&error);
    if (!display_) {
        ReportScreenError("Failed to open the X display", error);
        return false;
    }
    if (HasRegion(*options_)) {
        // A region is a fixed rectangle of the root: window_ stays 0, so it never moves.
        rect_ = RectL{options_->RegionLeft, options_->RegionTop, options_->RegionLeft + options_->RegionWidth,
                      options_->RegionTop + options_->RegionHeight};
    } else if (window_ = options_->CaptureWindow ? options_->CaptureWindow : display_->Root();
               !display_->GetWindowRect(window_, &rect_)) {
        ReportScreenError("Failed to read the capture window's rectangle", display_->LastError());
        return false;
    }
    grabber_ = platform::ScreenGrabber::Create(*display_, frame_.Width, frame_.Height, &error, kFrameBuffers);
    if (!grabber_) {
        ReportScreenError("Failed to set up the screen grab", error);
        return false;
    }
    // The frames live in the grabber's shared segment, so the server writes each grab
    // straight into one of them.
    frame_.Stride = static_cast<int32_t>(grabber_->FrameStride());
    for (int b = 0; b < kFrameBuffers; ++b)
        buffers_.push_back(grabber_->FrameBuffer(b));
    cursorReader_ = std::make_unique<platform::CursorReader>(*display_);
    // Without the DAMAGE extension Speedup Mode is left out: every slot is built.
    if (options_->UseQuickMode)
        changes_ = FrameChanges::Create(frame_.Width, frame_.Height);
    if (frame_.BitsPerPixel == 8)
        palette_ = platform::ScreenPalette::Read(*display_);  // without it no cursor is drawn
    return true;
}

bool VideoCapture::SetUpPortal()
{
    // The frames are of the size the stream had when the file was described. The
    // cursor is in the stream's pictures, or comes beside them and is drawn here, as
    // on X11; its image buffer is made for the largest image the stream may bring.
    if (portal_->CursorMetadata())
        cursor_.argb.reserve(static_cast<size_t>(platform::kMaxStreamCursorSize) * platform::kMaxStreamCursorSize);
    frame_.Stride = static_cast<int32_t>(portal_->FrameStride());
    const size_t bytes = portal_->FrameStride() * static_cast<size_t>(frame_.Height);
    portalFrames_.resize(bytes * kFrameBuffers);
    for (int b = 0; b < kFrameBuffers; ++b)
        buffers_.push_back(portalFrames_.data() + bytes * b);
    return true;
}

bool VideoCapture::Grab(FrameChanges::Step step, const FrameSurface& frame)
{
    if (portal_)
        return portal_->Grab(frame.Pixels, static_cast<size_t>(frame.Stride));
    if (step == FrameChanges::Step::Parts)
        return grabber_->GrabParts(rect_.left, rect_.top, changes_->Parts().data(), changes_->Parts().size(),
                                   frame.Pixels, static_cast<size_t>(frame.Stride));
    return grabber_->Grab(rect_.left, rect_.top, frame.Pixels, static_cast<size_t>(frame.Stride));
}

FrameSurface VideoCapture::SurfaceOf(int buffer) const
{
    FrameSurface frame = frame_;
    frame.Pixels = buffers_[static_cast<size_t>(buffer)];
    return frame;
}

void VideoCapture::ReportScreenError(const char* text, const std::string& reason)
{
    const std::string message = reason.empty() ? std::string(text) : std::string(text) + ": " + reason;
    ReportCaptureError(notify_, message.c_str());
}

void VideoCapture::RepeatKeptFrame(uint32_t slot)
{
    if (kept_ < 0)
        return;
    int buffer = queue_->Acquire(kept_);
    while (buffer < 0 && !queue_->Failed()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        buffer = queue_->Acquire(kept_);
    }
    if (buffer < 0)
        return;
    if (buffer != kept_)
        std::memcpy(buffers_[static_cast<size_t>(buffer)], buffers_[static_cast<size_t>(kept_)],
                    static_cast<size_t>(frame_.Stride) * static_cast<size_t>(frame_.Height));
    kept_ = buffer;
    queue_->Submit(buffer, slot);
}

bool VideoCapture::BuildFrame(uint32_t slot, bool mustBuild)
{
    // Once the screen cast has ended (the desktop stopped sharing, or its stream went
    // away) no frame comes any more, and slots without one would stay empty for good.
    // The recording ends with the reason instead; the last picture is given this slot,
    // so the file lasts until the end was seen.
    if (portal_ && !portal_->Live()) {
        RepeatKeptFrame(slot);
        ReportScreenError("Failed to grab the screen", portal_->LastError());
        return false;
    }
    bool haveCursor = cursorReader_ && cursorReader_->Read(&cursor_);
    // Speedup Mode: an unchanged slot is an empty position, a partly changed one
    // grabs only what changed into the kept frame.
    // The portal sends a frame only when the screen changed: a slot without one (and
    // without a cursor that moved) is an empty position too.
    FrameChanges::Step step = FrameChanges::Step::Whole;
    if (changes_)
        step = changes_->Next(rect_.left, rect_.top, haveCursor ? &cursor_ : nullptr, !refreshFrame_);
    else if (portal_ && refreshFrame_ && kept_ >= 0 && !mustBuild && !portal_->HasNewFrame())
        step = FrameChanges::Step::Skip;
    lastSkipped_ = step == FrameChanges::Step::Skip;
    if (lastSkipped_)
        return true;  // the next frame written leaves the position empty

    // A kept frame (RefreshFrame false, or the frame a partial grab builds on) is built
    // on again: in its own buffer when that one is written already, else in a copy.
    const bool keep = !refreshFrame_ || step == FrameChanges::Step::Parts;
    int buffer = queue_->Acquire(keep ? kept_ : -1);
    while (buffer < 0 && mustBuild && !queue_->Failed()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        buffer = queue_->Acquire(keep ? kept_ : -1);
    }
    if (buffer < 0) {
        // Every buffer still waits to be written: the slot stays empty, and what changed
        // in it is in the next frame, which is grabbed whole.
        if (changes_)
            changes_->BuildWholeNext();
        return !mustBuild;
    }
    const FrameSurface frame = SurfaceOf(buffer);
    if (keep) {
        if (buffer != kept_)
            std::memcpy(frame.Pixels, buffers_[static_cast<size_t>(kept_)],
                        static_cast<size_t>(frame.Stride) * static_cast<size_t>(frame.Height));
        cursorPatch_.Restore(frame);  // the cursor never stays in a kept frame
    }
    // A grab fails when the X connection is gone (the server ended or dropped us):
    // the recording ends there rather than repeating the last picture.
    if (refreshFrame_ && !Grab(step, frame)) {
        queue_->Release(buffer);
        ReportScreenError("Failed to grab the screen", GrabError());
        return false;
    }
    // The portal's cursor is read after the grab, which marks what came as seen: a
    // cursor that moves meanwhile makes the next slot a new frame again.
    if (portal_)
        haveCursor = portal_->Cursor(&cursor_);
    if (context_->OnFrame.Code) {
        // The hook gets a copy of the frame record: whatever it does to the copy, the
        // library goes on writing within its own frame.
        FrameSurface copy = frame;
        context_->OnFrame.Code(context_->OnFrame.Object, &copy, frame.Width, frame.Height, &refreshFrame_);
    }

    cursorPatch_.Clear();
    if (haveCursor) {
        const int x = cursor_.x - rect_.left - cursor_.xhot;
        const int y = cursor_.y - rect_.top - cursor_.yhot;
        if (!refreshFrame_ || changes_)
            cursorPatch_.Save(frame, x, y, cursor_.width, cursor_.height);  // the next slot may keep this frame
        platform::DrawCursor(cursor_, x, y, frame.Pixels, frame.Width, frame.Height, frame.Stride,
                             frame.BitsPerPixel, palette_.get());
    }
    if (!compressor_ && frame.BitsPerPixel == 32)
        for (int row = 0; row < frame.Height; ++row)
            MakeRowOpaque(frame.Pixels + static_cast<size_t>(row) * frame.Stride, static_cast<size_t>(frame.Width));
    kept_ = buffer;
    queue_->Submit(buffer, slot);
    return true;
}

VideoCapture::Wake VideoCapture::WaitForSlot(uint32_t wait)
{
    platform::NamedEvent* events[] = {ReserveEvent(context_), StopEvent(context_)};
    const uint32_t begin = platform::GetTickCount();
    for (;;) {
        const uint32_t waited = platform::GetTickCount() - begin;
        const uint32_t slice = waited >= wait ? 0 : std::min(wait - waited, kRunPollMs);
        const int woken = platform::NamedEvent::WaitAny(events, 2, slice);
        if (woken == 0)
            return Wake::End;  // ReserveEvent set
        if (woken == 1)
            return Wake::Due;  // the stop request: the stop check follows the run check
        if (woken != -1) {
            ReportWaitFailure(notify_, "Failed to wait for the next frame");
            return Wake::End;
        }
        if (queue_->Failed())
            return Wake::End;  // the writer failed and said why
        if (slice == 0 || RunEvent(context_)->State() != 1)
            return Wake::Due;  // the slot is due, or a pause was asked for
    }
}

uint32_t VideoCapture::Run()
{
    platform::NamedEvent* run = RunEvent(context_);
    platform::NamedEvent* stop = StopEvent(context_);
    platform::NamedEvent* runOrStop[] = {run, stop};
    const uint32_t fps = options_->FramesPerSecond;

    // Times are unsigned 32-bit tick differences, which stay right across the tick
    // counter's wrap: a recording running over the wrap goes on.
    bool started = false;
    uint32_t startTick = 0, pausedTotal = 0;
    bool built = false;
    uint64_t lastSlot = 0;
    uint32_t wait = 0;

    for (;;) {
        if (WaitForSlot(wait) == Wake::End)
            return 1;
        const int running = run->State();
        if (running < 0)
            return 1;
        if (running == 1) {
            if (!started) {
                started = true;
                startTick = platform::GetTickCount();
            }
        } else {
            // Paused until RunEvent is set again, or until the stop request, which the
            // stop check below then sees.
            // A failure of the writer (while it writes the frames before the pause)
            // ends the recording then, not when the pause is over.
            const uint32_t pauseStart = platform::GetTickCount();
            int woken = -1;
            while (woken == -1 && !queue_->Failed())
                woken = platform::NamedEvent::WaitAny(runOrStop, 2, kRunPollMs);
            if (woken == -1)
                return 1;
            if (woken < 0) {
                ReportWaitFailure(notify_, "Failed to wait for the run event");
                return 1;
            }
            if (started) {
                pausedTotal += platform::GetTickCount() - pauseStart;
                if (changes_)
                    changes_->BuildWholeNext();
            } else {
                started = true;
                startTick = platform::GetTickCount();
            }
        }
        const int stopping = stop->State();
        if (stopping < 0)
            return 1;
        if (stopping == 1) {
            // A recording that ends on empty positions gets its last slot built, so that
            // the stream lasts to the stop and decoders give a frame for each position.
            const bool endNeedsFrame = changes_ ? changes_->EndNeedsFrame() : lastSkipped_;
            if (endNeedsFrame && !BuildFrame(static_cast<uint32_t>(lastSlot), true)) {
                writer_->Finish();
                return 1;
            }
            return writer_->Finish() ? 0 : 1;  // the queued frames are written first
        }

        RectL rect;
        if (display_ && window_ && display_->GetWindowRect(window_, &rect))
            rect_ = rect;

        // The slot is derived from the exact elapsed time (not from an interval rounded
        // down to whole milliseconds), so the stream keeps real time at every rate.
        const uint32_t elapsed = platform::GetTickCount() - startTick - pausedTotal;
        const uint64_t slot = static_cast<uint64_t>(elapsed) * fps / 1000;
        // Each slot is built once, slot 0 included: writing a position twice would
        // shift the timeline or lose a reference frame of a delta-coded stream.
        if (built && slot <= lastSlot) {
            wait = static_cast<uint32_t>(SlotStart(lastSlot + 1, fps) - elapsed);
            continue;
        }
        if (!BuildFrame(static_cast<uint32_t>(slot)))
            return 1;
        built = true;
        lastSlot = slot;

        // Wait for the start of the next slot; not at all when the frame took longer or
        // a pause was asked for meanwhile.
        const uint32_t now = platform::GetTickCount() - startTick - pausedTotal;
        const uint64_t next = SlotStart(slot + 1, fps);
        wait = now >= next ? 0 : static_cast<uint32_t>(next - now);
        if (run->State() != 1)
            wait = 0;
    }
}

}  // namespace

uint32_t VideoThreadMain(void* argument)
{
    auto* context = static_cast<CaptureContext*>(argument);
    VideoCapture capture(context);
    if (!capture.SetUp())
        return 1;
    return capture.Run();
}

}  // namespace korvid
