// One encoder opened for one uncompressed frame format, with everything compressing
// a frame needs made up front: the pixel conversion, the frames it converts into and
// the packet it receives. One frame in gives exactly one packet out, at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

extern "C" {
#include <libavutil/pixfmt.h>
}

#include "platform/codec/CodecEncoderSetup.h"
#include "platform/WinTypes.h"

struct AVCodec;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace platform {

class CodecSession {
public:
    // Opens the encoder for frames of that format and size (height may be negative,
    // for bottom-up frames; the pixels given to Encode are top-down either way).
    // Null on failure, *error says why.
    static std::unique_ptr<CodecSession> Open(const AVCodec* codec, const BitmapInfoHeader& input,
                                              std::string* error);
    ~CodecSession();
    CodecSession(const CodecSession&) = delete;
    CodecSession& operator=(const CodecSession&) = delete;

    // Whether this session was opened for frames of that format.
    bool Matches(const BitmapInfoHeader& input) const;

    // The AVI code a decoder reads this stream by.
    uint32_t Handler() const { return handler_; }
    // Bits per pixel the output format states.
    uint16_t BitCount() const;
    // Upper bound of one packet's size.
    uint32_t MaxPacketSize() const { return maxPacketSize_; }
    const uint8_t* ExtraData() const;
    uint32_t ExtraDataSize() const;
    AVPixelFormat EncoderFormat() const { return encoderFormat_; }

    // Compresses one plain grey frame and has the decoder a player would use read it:
    // some encoders open for a size they then refuse to compress, or compress what
    // no decoder reads. The session has then compressed a frame, so it no longer
    // starts a stream.
    bool Trial(std::string* error);

    // Compresses one top-down frame (rows stride bytes apart) at the given quality
    // (0..10000; kDefaultQuality or above 10000 keeps the set-up quality) into out.
    // The first packet of a session and every packet of an intra-only codec are key
    // frames, whether or not the encoder flags them: nothing comes before them.
    bool Encode(const uint8_t* pixels, size_t stride, uint32_t frameNumber, uint32_t quality,
                uint8_t* out, uint32_t capacity, uint32_t* outSize, bool* keyFrame, std::string* error);

private:
    CodecSession() = default;

    const AVCodec* codec_ = nullptr;
    std::unique_ptr<CodecEncoderSetup> setup_;
    AVCodecContext* context_ = nullptr;
    SwsContext* scaler_ = nullptr;
    AVFrame* frames_[2] = {nullptr, nullptr};  // converted pictures, used in turn when held
    AVPacket* packet_ = nullptr;
    BitmapInfoHeader input_{};
    AVPixelFormat inputFormat_ = AV_PIX_FMT_NONE;
    AVPixelFormat encoderFormat_ = AV_PIX_FMT_NONE;
    uint32_t handler_ = 0;
    uint32_t maxPacketSize_ = 0;
    int64_t nextPts_ = 0;
    bool intraOnly_ = false;
    bool started_ = false;  // a packet came out already
};

}  // namespace platform
