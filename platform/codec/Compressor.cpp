#include "platform/codec/CompressorImpl.h"

#include <cstring>

namespace platform {

bool Compressor::Impl::Fail(std::string text)
{
    error = std::move(text);
    return false;
}

CodecSession* Compressor::Impl::QuerySession(const BitmapInfoHeader& input)
{
    if (!query || !query->Matches(input)) {
        query.reset();
        std::string text;
        query = CodecSession::Open(entry->codec, input, &text);
        if (!query || !query->Trial(&text)) {
            query.reset();
            error = std::move(text);
            return nullptr;
        }
    }
    info.fccHandler = query->Handler();
    return query.get();
}

Compressor::Compressor(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Compressor::~Compressor() = default;

CodecInfo Compressor::GetInfo() const
{
    return impl_->info;
}

bool Compressor::CanCompress(const BitmapInfoHeader& input)
{
    return impl_->QuerySession(input) != nullptr;
}

uint32_t Compressor::DefaultQuality() const
{
    return kDefaultQuality;
}

uint32_t Compressor::GetFormatSize(const BitmapInfoHeader& input)
{
    CodecSession* session = impl_->QuerySession(input);
    if (!session)
        return 0;
    return uint32_t(sizeof(BitmapInfoHeader)) + session->ExtraDataSize();
}

bool Compressor::GetFormat(const BitmapInfoHeader& input, void* output, uint32_t size)
{
    CodecSession* session = impl_->QuerySession(input);
    if (!session)
        return false;
    const uint32_t needed = uint32_t(sizeof(BitmapInfoHeader)) + session->ExtraDataSize();
    if (!output || size < needed)
        return impl_->Fail("output format needs " + std::to_string(needed) + " bytes, " +
                           std::to_string(size) + " given");
    BitmapInfoHeader header{};
    header.biSize = sizeof(BitmapInfoHeader);
    header.biWidth = input.biWidth;
    header.biHeight = input.biHeight;
    header.biPlanes = 1;
    header.biBitCount = session->BitCount();
    header.biCompression = session->Handler();
    header.biSizeImage = session->MaxPacketSize();
    auto* bytes = static_cast<uint8_t*>(output);
    std::memcpy(bytes, &header, sizeof header);
    if (session->ExtraDataSize() > 0)
        std::memcpy(bytes + sizeof header, session->ExtraData(), session->ExtraDataSize());
    return true;
}

bool Compressor::Begin(const BitmapInfoHeader& input, const void* output, uint32_t outputSize, bool frameThreads)
{
    impl_->active.reset();
    if (!output || outputSize < sizeof(BitmapInfoHeader))
        return impl_->Fail("no output format given to begin compressing");
    BitmapInfoHeader out;
    std::memcpy(&out, output, sizeof out);
    // The queried session has compressed its trial frame: the stream gets a fresh one.
    std::string text;
    std::unique_ptr<CodecSession> session = CodecSession::Open(impl_->entry->codec, input, &text, frameThreads);
    if (!session)
        return impl_->Fail(std::move(text));
    const uint32_t extraSize = session->ExtraDataSize();
    const auto* extra = static_cast<const uint8_t*>(output) + sizeof out;
    if (out.biCompression != session->Handler() || out.biWidth != input.biWidth ||
        out.biHeight != input.biHeight)
        return impl_->Fail("the output format does not belong to this input format (" +
                           impl_->entry->info.encoderName + ")");
    // The stream's format carries the extra data a decoder starts from; the encoder
    // must start from the same.
    if (outputSize >= sizeof out + extraSize && extraSize > 0 &&
        std::memcmp(extra, session->ExtraData(), extraSize) != 0)
        return impl_->Fail(impl_->entry->info.encoderName +
                           ": the encoder's set-up data differ from the output format's");
    impl_->query.reset();
    impl_->info.fccHandler = session->Handler();
    impl_->active = std::move(session);
    return true;
}

bool Compressor::Compress(const uint8_t* pixels, size_t stride, uint32_t frameNumber, uint32_t quality,
                          uint8_t* out, uint32_t capacity, uint32_t* outSize, uint32_t* flags)
{
    if (!impl_->active)
        return impl_->Fail("compressing before Begin");
    if (!outSize || !flags)
        return impl_->Fail("no place for the compressed size or flags");
    bool key = false;
    std::string text;
    if (!impl_->active->Encode(pixels, stride, frameNumber, quality, out, capacity, outSize, &key, &text))
        return impl_->Fail(std::move(text));
    *flags = key ? TAVREC_AVIIF_KEYFRAME : 0u;
    return true;
}

bool Compressor::Send(const uint8_t* pixels, size_t stride, uint32_t frameNumber, uint32_t quality, bool lend)
{
    if (!impl_->active)
        return impl_->Fail("compressing before Begin");
    return impl_->active->Send(pixels, stride, frameNumber, quality, &impl_->error, lend);
}

bool Compressor::Holds(const uint8_t* pixels) const
{
    return impl_->active && impl_->active->Holds(pixels);
}

bool Compressor::Receive(Packet* packet)
{
    impl_->error.clear();
    if (!impl_->active)
        return impl_->Fail("compressing before Begin");
    CodecSession::Packet got;
    if (!impl_->active->Receive(&got, &impl_->error))
        return false;
    packet->data = got.data;
    packet->size = got.size;
    packet->frameNumber = got.frameNumber;
    packet->flags = got.keyFrame ? TAVREC_AVIIF_KEYFRAME : 0u;
    return true;
}

bool Compressor::Drain()
{
    if (!impl_->active)
        return impl_->Fail("compressing before Begin");
    return impl_->active->Drain(&impl_->error);
}

void Compressor::End()
{
    impl_->active.reset();
}

const std::string& Compressor::LastError() const
{
    return impl_->error;
}

}  // namespace platform
