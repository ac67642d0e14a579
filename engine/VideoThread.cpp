// The video capture thread: at every frame slot it grabs the capture window's area
// of the screen, lets the program draw on the frame (OnFrame), draws the cursor,
// compresses the frame (or keeps it uncompressed) and writes it at the stream
// position of its slot.
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/CaptureThreads.h"
#include "engine/ContextAccess.h"
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

// The pixels under the cursor, saved before it is drawn and put back after the
// frame was written. The saved area is the cursor image's own size, clipped to the
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

// Copies a row of 32-bit pixels with their unused fourth byte set to 0xFF. Windows
// ignores that byte of an uncompressed frame, but ffmpeg-based players read such a
// stream as BGRA: with the byte left 0 they show the picture transparent, or black.
void CopyRowOpaque(const uint8_t* src, uint8_t* dst, size_t pixels)
{
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    for (; i + 4 <= pixels; i += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * i), _mm_or_si128(v, opaque));
    }
#endif
    for (; i < pixels; ++i) {
        std::memcpy(dst + 4 * i, src + 4 * i, 3);
        dst[4 * i + 3] = 0xFF;
    }
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
    bool BuildFrame(uint32_t slot);
    bool SetUpX11();
    bool SetUpPortal();
    // Brings the frame up to date from the screen source.
    bool Grab();
    const std::string& GrabError() const { return portal_ ? portal_->LastError() : grabber_->LastError(); }
    void ReportScreenError(const char* text, const std::string& reason);
    bool WriteFrame(uint32_t slot);

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
    RectL rect_{};  // last known rectangle: a window destroyed while recording keeps it
    FrameSurface frame_{};           // rows top-down, in the grabber's frame buffer
    size_t rowBytes_ = 0;            // a row of the frame format
    std::vector<uint8_t> bottomUp_;  // an uncompressed frame as the file stores it

    std::unique_ptr<platform::Compressor> compressor_;
    bool begun_ = false;
    uint32_t quality_ = 0;
    std::vector<uint8_t> outputFormat_;
    std::vector<uint8_t> compressed_;

    bool refreshFrame_ = true;
};

bool VideoCapture::SetUp()
{
    // The frame format is read once: the stream is described by it and every frame is
    // built in it, so a window or screen that changes size meanwhile cannot give a
    // header of one size over frames of another.
    portal_ = TakePortalSource(context_);
    if (portal_)
        format_ = PortalFrameFormat(*portal_);
    if (portal_ ? !format_ : GetBitmapInformation(options_->CaptureWindow, &format_) != 1) {
        ReportCaptureError(notify_, "Failed to get bitmap information");
        return false;
    }
    // The compressor the stream was described with is the one that compresses, with
    // the output format the stream was given.
    if (!CreateVideoStream(options_, AviFileOf(context_), format_, &stream_, &compressor_, &outputFormat_))
        return false;

    if (portal_ ? !SetUpPortal() : !SetUpX11())
        return false;

    if (compressor_) {
        g_defaultQuality.store(compressor_->DefaultQuality());
        quality_ = g_defaultQuality.load();
        BitmapInfoHeader output;
        std::memcpy(&output, outputFormat_.data(), sizeof output);  // the stream set-up checked its size
        compressed_.resize(output.biSizeImage);
        if (!compressor_->Begin(*format_, outputFormat_.data(), static_cast<uint32_t>(outputFormat_.size()))) {
            ReportCaptureError(notify_, "VCM begin error");
            return false;
        }
        begun_ = true;
    } else {
        bottomUp_.resize(format_->biSizeImage);
    }
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
    window_ = options_->CaptureWindow ? options_->CaptureWindow : display_->Root();
    if (!display_->GetWindowRect(window_, &rect_)) {
        ReportScreenError("Failed to read the capture window's rectangle", display_->LastError());
        return false;
    }
    // The frame keeps the size the window had when the stream was described.
    frame_.Width = format_->biWidth;
    frame_.Height = format_->biHeight;
    frame_.BitsPerPixel = format_->biBitCount;
    rowBytes_ = format_->biSizeImage / static_cast<uint32_t>(format_->biHeight);
    grabber_ = platform::ScreenGrabber::Create(*display_, frame_.Width, frame_.Height, &error);
    if (!grabber_) {
        ReportScreenError("Failed to set up the screen grab", error);
        return false;
    }
    // The frame lives in the grabber's shared segment, so the server writes each grab
    // straight into it; a kept frame (RefreshFrame false) stays there untouched.
    frame_.Pixels = grabber_->FrameBuffer();
    frame_.Stride = static_cast<int32_t>(grabber_->FrameStride());
    std::memset(frame_.Pixels, 0, grabber_->FrameStride() * static_cast<size_t>(frame_.Height));
    cursorReader_ = std::make_unique<platform::CursorReader>(*display_);
    if (frame_.BitsPerPixel == 8)
        palette_ = platform::ScreenPalette::Read(*display_);  // without it no cursor is drawn
    return true;
}

bool VideoCapture::SetUpPortal()
{
    // The source's frame buffer holds the frame, of the size the stream had when the
    // file was described; the cursor is in the stream's pictures when it is at all.
    frame_.Width = format_->biWidth;
    frame_.Height = format_->biHeight;
    frame_.BitsPerPixel = format_->biBitCount;
    rowBytes_ = format_->biSizeImage / static_cast<uint32_t>(format_->biHeight);
    frame_.Pixels = portal_->FrameBuffer();
    frame_.Stride = static_cast<int32_t>(portal_->FrameStride());
    return true;
}

bool VideoCapture::Grab()
{
    if (portal_)
        return portal_->Grab(frame_.Pixels, frame_.Stride);
    return grabber_->Grab(rect_.left, rect_.top, frame_.Pixels, frame_.Stride);
}

bool VideoCapture::WriteFrame(uint32_t slot)
{
    const auto position = static_cast<int64_t>(slot);
    if (compressor_) {
        uint32_t size = 0, flags = 0;
        if (!compressor_->Compress(frame_.Pixels, frame_.Stride, slot, quality_, compressed_.data(),
                                   static_cast<uint32_t>(compressed_.size()), &size, &flags)) {
            ReportCaptureError(notify_, "Compress video data error");
            return false;
        }
        if (!stream_->Write(position, 1, compressed_.data(), size, flags)) {
            ReportCaptureError(notify_, "Write video data error");
            return false;
        }
        return true;
    }
    // An uncompressed frame is stored with its rows bottom-up, as its format says.
    const size_t stride = static_cast<size_t>(frame_.Stride);
    const size_t bytes = std::min(stride, rowBytes_);
    for (int row = 0; row < frame_.Height; ++row) {
        uint8_t* out = &bottomUp_[(frame_.Height - 1 - row) * rowBytes_];
        if (frame_.BitsPerPixel == 32)
            CopyRowOpaque(frame_.Pixels + row * stride, out, static_cast<size_t>(frame_.Width));
        else
            std::memcpy(out, frame_.Pixels + row * stride, bytes);
    }
    if (!stream_->Write(position, 1, bottomUp_.data(), bottomUp_.size(), TAVREC_AVIIF_KEYFRAME)) {
        ReportCaptureError(notify_, "Write video data error");
        return false;
    }
    return true;
}

void VideoCapture::ReportScreenError(const char* text, const std::string& reason)
{
    const std::string message = reason.empty() ? std::string(text) : std::string(text) + ": " + reason;
    ReportCaptureError(notify_, message.c_str());
}

bool VideoCapture::BuildFrame(uint32_t slot)
{
    // A grab fails when the X connection is gone (the server ended or dropped us):
    // the recording ends there rather than repeating the last picture.
    if (refreshFrame_ && !Grab()) {
        ReportScreenError("Failed to grab the screen", GrabError());
        return false;
    }
    if (context_->OnFrame.Code) {
        // The hook gets a copy of the frame record: whatever it does to the copy, the
        // library goes on writing within its own frame.
        FrameSurface frame = frame_;
        context_->OnFrame.Code(context_->OnFrame.Object, &frame, frame_.Width, frame_.Height, &refreshFrame_);
    }

    const bool haveCursor = cursorReader_ && cursorReader_->Read(&cursor_);
    if (haveCursor) {
        const int x = cursor_.x - rect_.left - cursor_.xhot;
        const int y = cursor_.y - rect_.top - cursor_.yhot;
        cursorPatch_.Save(frame_, x, y, cursor_.width, cursor_.height);
        platform::DrawCursor(cursor_, x, y, frame_.Pixels, frame_.Width, frame_.Height, frame_.Stride,
                             frame_.BitsPerPixel, palette_.get());
    }
    const bool written = WriteFrame(slot);
    cursorPatch_.Restore(frame_);  // the cursor never stays in the frame
    return written;
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
            const uint32_t pauseStart = platform::GetTickCount();
            const int woken = platform::NamedEvent::WaitAny(runOrStop, 2);
            if (woken < 0) {
                ReportWaitFailure(notify_, "Failed to wait for the run event");
                return 1;
            }
            if (started) {
                pausedTotal += platform::GetTickCount() - pauseStart;
            } else {
                started = true;
                startTick = platform::GetTickCount();
            }
        }
        const int stopping = stop->State();
        if (stopping < 0)
            return 1;
        if (stopping == 1)
            return 0;

        RectL rect;
        if (display_ && display_->GetWindowRect(window_, &rect))
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
