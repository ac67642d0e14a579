#include "engine/FrameWriter.h"

#include <algorithm>

#include "engine/LastError.h"
#include "platform/avi/AviFile.h"
#include "platform/codec/CodecManager.h"

namespace korvid {

FrameWriter::FrameWriter(FrameQueue& queue, FrameLayout layout, platform::AviStream* stream,
                         platform::Compressor* compressor, uint32_t quality, KorvidWindow notify)
    : queue_(queue), layout_(std::move(layout)), stream_(stream), compressor_(compressor), quality_(quality),
      notify_(notify)
{
    if (!compressor_) {
        rows_.resize(static_cast<size_t>(layout_.height) * 2);
        if (layout_.fileRowBytes > layout_.stride)
            rowPadding_.resize(layout_.fileRowBytes - layout_.stride);
    }
    lent_.reserve(layout_.buffers.size());
}

FrameWriter::~FrameWriter()
{
    Finish();
}

void FrameWriter::Start()
{
    thread_ = std::thread([this] { Run(); });
}

bool FrameWriter::Finish()
{
    queue_.Close();
    if (thread_.joinable())
        thread_.join();
    return !queue_.Failed();
}

bool FrameWriter::Fail(const char* text)
{
    ReportCaptureError(notify_, text);
    queue_.Fail();
    return false;
}

void FrameWriter::Run()
{
    FrameQueue::Frame frame;
    while (queue_.Take(&frame)) {
        const bool written = !queue_.Failed() && Write(frame);
        if (compressor_ && compressor_->Holds(layout_.buffers[static_cast<size_t>(frame.buffer)]))
            lent_.push_back(frame.buffer);
        else
            queue_.Release(frame.buffer);
        ReleaseLent(false);
        if (!written)
            return;
    }
    // The packets frame threads still hold belong at the end of the stream.
    if (compressor_ && !queue_.Failed()) {
        if (!compressor_->Drain())
            Fail("Compress video data error");
        else
            WritePackets();
    }
    ReleaseLent(true);  // nothing is encoded any more
}

void FrameWriter::ReleaseLent(bool all)
{
    for (size_t i = 0; i < lent_.size();) {
        if (all || !compressor_->Holds(layout_.buffers[static_cast<size_t>(lent_[i])])) {
            queue_.Release(lent_[i]);
            lent_[i] = lent_.back();
            lent_.pop_back();
        } else {
            ++i;
        }
    }
}

bool FrameWriter::Write(const FrameQueue::Frame& frame)
{
    if (!compressor_)
        return WriteUncompressed(frame);
    const uint8_t* pixels = layout_.buffers[static_cast<size_t>(frame.buffer)];
    if (!compressor_->Send(pixels, layout_.stride, frame.slot, quality_, /*lend=*/true))
        return Fail("Compress video data error");
    return WritePackets();
}

// Writes every packet the encoder has ready, each at the position of its own frame,
// straight from the encoder's memory.
bool FrameWriter::WritePackets()
{
    platform::Compressor::Packet packet;
    while (compressor_->Receive(&packet)) {
        if (!stream_->Write(static_cast<int64_t>(packet.frameNumber), 1, packet.data, packet.size, packet.flags))
            return Fail("Write video data error");
    }
    if (!compressor_->LastError().empty())
        return Fail("Compress video data error");
    return true;
}

// An uncompressed frame is stored with its rows bottom-up, as its format says: the
// rows are handed to the file in that order, without a copy.
bool FrameWriter::WriteUncompressed(const FrameQueue::Frame& frame)
{
    uint8_t* pixels = layout_.buffers[static_cast<size_t>(frame.buffer)];
    const size_t bytes = std::min(layout_.stride, layout_.fileRowBytes);
    size_t count = 0;
    for (int row = layout_.height - 1; row >= 0; --row) {
        rows_[count++] = iovec{pixels + static_cast<size_t>(row) * layout_.stride, bytes};
        if (!rowPadding_.empty())
            rows_[count++] = iovec{rowPadding_.data(), rowPadding_.size()};
    }
    if (!stream_->Write(static_cast<int64_t>(frame.slot), 1, rows_.data(), count, TAVREC_AVIIF_KEYFRAME))
        return Fail("Write video data error");
    return true;
}

}  // namespace korvid
