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
    PortalScreenSource* self = source.get();
    source->stream_ = PipeWireStream::Connect(
        remote, source->cast_->Node(), [self](const StreamImage& image) { self->OnFrame(image); }, &err);
    if (!source->stream_ || !source->stream_->WaitForFormat(formatTimeoutMs, &err))
        return nullptr;
    {
        std::lock_guard<std::mutex> guard(source->latestLock);
        if (source->latest_.empty()) {
            source->latestWidth_ = source->stream_->Width();
            source->latestHeight_ = source->stream_->Height();
            source->latest_.assign(static_cast<size_t>(source->latestWidth_) * 4 * source->latestHeight_, 0);
        }
        source->width_ = source->latestWidth_;
        source->height_ = source->latestHeight_;
    }
    source->frame_.assign(source->FrameStride() * source->height_, 0);
    return source;
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

bool PortalScreenSource::Live()
{
    std::string why;
    if (stream_->Failed(&why)) {
        lastError_ = why;
        return false;
    }
    if (!cast_->Active()) {
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
