#include "platform/portal/PortalScreenSource.h"

#include <cstring>

namespace platform {

std::unique_ptr<PortalScreenSource> PortalScreenSource::Open(const ScreenCastRequest& request, std::string* error,
                                                            int formatTimeoutMs)
{
    std::string ignored;
    std::string& err = error ? *error : ignored;
    std::unique_ptr<PortalScreenSource> source(new PortalScreenSource());
    source->cast_ = PortalScreenCast::Start(request, &err);
    if (!source->cast_)
        return nullptr;
    UniqueFd remote = source->cast_->OpenPipeWireRemote(&err);
    if (!remote.Valid())
        return nullptr;
    source->cursorMetadata_ = source->cast_->CursorMetadata();
    if (!source->Connect(remote, source->cast_->Node(), formatTimeoutMs, &err))
        return nullptr;
    return source;
}

std::unique_ptr<PortalScreenSource> PortalScreenSource::OpenStream(UniqueFd& remote, uint32_t node,
                                                                  bool cursorMetadata, std::string* error,
                                                                  int formatTimeoutMs)
{
    std::string ignored;
    std::unique_ptr<PortalScreenSource> source(new PortalScreenSource());
    source->cursorMetadata_ = cursorMetadata;
    if (!source->Connect(remote, node, formatTimeoutMs, error ? error : &ignored))
        return nullptr;
    return source;
}

bool PortalScreenSource::Connect(UniqueFd& remote, uint32_t node, int formatTimeoutMs, std::string* error)
{
    PipeWireStream::CursorHandler onCursor;
    if (cursorMetadata_) {
        // Room for the largest image the stream is asked for, so that none is made on
        // PipeWire's thread.
        cursor_.argb.reserve(static_cast<size_t>(kMaxStreamCursorSize) * kMaxStreamCursorSize);
        onCursor = [this](const StreamCursor& cursor) { OnCursor(cursor); };
    }
    stream_ = PipeWireStream::Connect(
        remote, node, [this](const StreamImage& image) { OnFrame(image); }, error, std::move(onCursor));
    if (!stream_ || !stream_->WaitForFormat(formatTimeoutMs, error))
        return false;
    {
        std::lock_guard<std::mutex> guard(latestLock);
        if (latest_.empty()) {
            latestWidth_ = stream_->Width();
            latestHeight_ = stream_->Height();
            latest_.assign(static_cast<size_t>(latestWidth_) * 4 * latestHeight_, 0);
        }
        width_ = latestWidth_;
        height_ = latestHeight_;
    }
    frame_.assign(FrameStride() * height_, 0);
    return true;
}

PortalScreenSource::~PortalScreenSource()
{
    stream_.reset();  // no frame arrives after this
}

void PortalScreenSource::OnFrame(const StreamImage& image)
{
    std::lock_guard<std::mutex> guard(latestLock);
    if (latest_.empty()) {
        // The first frame came before Open looked at the format: it fixes the size.
        latestWidth_ = image.width;
        latestHeight_ = image.height;
        latest_.assign(static_cast<size_t>(latestWidth_) * 4 * latestHeight_, 0);
    }
    const FrameImage frame{latest_.data(), static_cast<size_t>(latestWidth_) * 4, latestWidth_, latestHeight_};
    if (ConvertStreamFrame(image, frame)) {
        received_.fetch_add(1, std::memory_order_relaxed);
        fresh_.store(true, std::memory_order_release);
    }
}

void PortalScreenSource::OnCursor(const StreamCursor& cursor)
{
    std::lock_guard<std::mutex> guard(latestLock);
    if (UpdateStreamCursor(cursor, &cursor_, &cursorVisible_))
        fresh_.store(true, std::memory_order_release);
}

bool PortalScreenSource::Cursor(CursorImage* cursor)
{
    std::lock_guard<std::mutex> guard(latestLock);
    if (!cursorVisible_ || cursor_.width <= 0 || cursor_.height <= 0)
        return false;
    cursor->x = cursor_.x;
    cursor->y = cursor_.y;
    cursor->xhot = cursor_.xhot;
    cursor->yhot = cursor_.yhot;
    if (cursor->serial != cursor_.serial || cursor->width != cursor_.width || cursor->height != cursor_.height) {
        cursor->width = cursor_.width;
        cursor->height = cursor_.height;
        cursor->serial = cursor_.serial;
        cursor->argb.assign(cursor_.argb.begin(), cursor_.argb.end());  // keeps its capacity when large enough
    }
    return true;
}

bool PortalScreenSource::Live()
{
    std::string why;
    if (stream_->Failed(&why)) {
        lastError_ = why;
        return false;
    }
    if (cast_ && !cast_->Active()) {
        lastError_ = "the desktop ended the screen cast";
        return false;
    }
    return true;
}

bool PortalScreenSource::Grab(uint8_t* dst, size_t dstStride)
{
    if (!Live())
        return false;
    std::lock_guard<std::mutex> guard(latestLock);
    fresh_.store(false, std::memory_order_release);
    const size_t row = static_cast<size_t>(width_) * 4;
    for (int y = 0; y < height_; ++y)
        std::memcpy(dst + y * dstStride, latest_.data() + y * row, row);
    return true;
}

}  // namespace platform
