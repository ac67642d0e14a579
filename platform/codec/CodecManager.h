// The installed video compressors: every libavcodec video encoder that has an AVI
// four-character code, reached the way a video codec manager is (enumerate by index,
// open by type and handler code, query, get the output format, begin, compress one
// frame at a time, end, close).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/WinTypes.h"

namespace platform {

inline constexpr uint32_t kCodecTypeVideo = TAVREC_FOURCC('v', 'i', 'd', 'c');

struct CodecInfo {
    uint32_t fccType = 0;       // 'vidc'
    uint32_t fccHandler = 0;    // the AVI four-character code a decoder reads the stream by
    std::u16string description; // the encoder's long name
    std::string encoderName;    // libavcodec's short name, for messages
};

class Compressor;

class CodecManager {
public:
    // Fills *info with the compressor at that index of a stable enumeration (type 0
    // means every type). False past the end. One entry per encoder: a handler code
    // may come more than once (libx264 and libx264rgb both write H264).
    static bool Info(uint32_t fccType, int index, CodecInfo* info);
    // Opens the first compressor with that code; null when none has it.
    static std::unique_ptr<Compressor> Open(uint32_t fccType, uint32_t fccHandler);
    // Opens the compressor an enumerated info stands for (by its encoder; by code when
    // the info names no encoder); null when there is none.
    static std::unique_ptr<Compressor> Open(const CodecInfo& info);
    // The first compressor in enumeration order whose info `wanted` accepts and which
    // can compress the input, opened; null when there is none. Unlike walking the
    // enumeration with Info, which tries every installed encoder, this opens only the
    // encoders `wanted` accepts (it sees each one's info before anything is opened).
    static std::unique_ptr<Compressor> OpenFirst(const std::function<bool(const CodecInfo&)>& wanted,
                                                 const BitmapInfoHeader& input);
};

class Compressor {
public:
    ~Compressor();
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;

    // The compressor's info. After a successful CanCompress or GetFormat the handler
    // code is the one it writes for that input format (some encoders pick their code
    // from the pixel format they encode in).
    CodecInfo GetInfo() const;
    // Whether frames of this uncompressed format can be compressed: decided by really
    // opening the encoder for that size through a pixel format reachable from it.
    bool CanCompress(const BitmapInfoHeader& input);
    // Default quality, on a 0..10000 scale.
    uint32_t DefaultQuality() const;
    // Size in bytes of the output format for this input (BITMAPINFOHEADER plus the
    // encoder's extra data), 0 when it cannot compress the input.
    uint32_t GetFormatSize(const BitmapInfoHeader& input);
    // Fills the output format: biSize 40, biCompression the handler code, biSizeImage
    // the largest packet the encoder can produce, then the extra data. False when
    // size is too small or the input cannot be compressed.
    bool GetFormat(const BitmapInfoHeader& input, void* output, uint32_t size);

    // Opens the encoder for compressing frames of that input format. False on failure.
    // frameThreads: encoders that compress frames in parallel without reordering them
    // use frame threads; their packets then come late (Send, Receive, Drain), and
    // Compress, which wants each packet at once, fails for them.
    bool Begin(const BitmapInfoHeader& input, const void* output, uint32_t outputSize, bool frameThreads = false);
    // Compresses one frame: pixels in the input's layout with rows top-down, stride
    // bytes apart. Writes exactly one packet into out (capacity bytes), its size into
    // *outSize and TAVREC_AVIIF_KEYFRAME or 0 into *flags. The encoder has no frame
    // delay and no B-frames. False on failure.
    bool Compress(const uint8_t* pixels, size_t stride, uint32_t frameNumber, uint32_t quality,
                  uint8_t* out, uint32_t capacity, uint32_t* outSize, uint32_t* flags);

    // Compressing without copying, and with packets that may come late. A packet is the
    // encoder's own: data stays valid until the next Send, Receive or Drain.
    struct Packet {
        const uint8_t* data = nullptr;
        uint32_t size = 0;
        uint32_t frameNumber = 0;  // the frame it was sent as
        uint32_t flags = 0;        // TAVREC_AVIIF_KEYFRAME or 0
    };
    // Hands one frame (as for Compress) to the encoder. Without `lend` the pixels are
    // read before it returns; with it they stay as they are until Holds(pixels) is
    // false, and an encoder that takes them as they are reads them without a copy.
    bool Send(const uint8_t* pixels, size_t stride, uint32_t frameNumber, uint32_t quality, bool lend = false);
    // Whether the encoder still reads pixels lent to it.
    bool Holds(const uint8_t* pixels) const;
    // The next packet ready, in the order of the frames: true with *packet; false with
    // LastError() empty when there is none (yet).
    bool Receive(Packet* packet);
    // No frame comes any more: Receive gives the packets still held back.
    bool Drain();
    void End();

    const std::string& LastError() const;

    struct Impl;

private:
    friend class CodecManager;
    explicit Compressor(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
