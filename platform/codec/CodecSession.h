// One encoder opened for one uncompressed frame format, with everything compressing
// a frame needs made up front: the pixel conversion, the frames it converts into and
// the packet it receives. One frame in gives exactly one packet out: at once, or,
// for a session opened with frame threads, up to FramesInFlight() frames later, in
// the order of the frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
}

#include "platform/codec/CodecEncoderSetup.h"
#include "platform/WinTypes.h"

struct AVBufferRef;
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
    // frameThreads: see CodecEncoderSetup.
    static std::unique_ptr<CodecSession> Open(const AVCodec* codec, const BitmapInfoHeader& input,
                                              std::string* error, bool frameThreads = false);
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

    // A compressed frame, in the encoder's own packet: data stays valid until the next
    // Send, Receive or Drain.
    struct Packet {
        const uint8_t* data = nullptr;
        uint32_t size = 0;
        uint32_t frameNumber = 0;  // the frame it was sent as
        bool keyFrame = false;
    };
    // Whether packets may come later than their frames (frame threads).
    bool Delayed() const { return setup_->FrameThreaded(); }
    // Hands one top-down frame to the encoder. Without frame threads the packet is then
    // ready at once. Without `lend` the pixels are read before it returns. With it the
    // caller leaves them as they are until Holds(pixels) is false: an encoder that
    // takes the frames' own pixel format then reads them where they lie, without a copy.
    bool Send(const uint8_t* pixels, size_t stride, uint32_t frameNumber, uint32_t quality, std::string* error,
              bool lend = false);
    // Whether the encoder still reads lent pixels.
    bool Holds(const uint8_t* pixels) const;
    // The next packet ready: true with *packet; false with *error empty when there is
    // none (yet), with *error set on failure.
    bool Receive(Packet* packet, std::string* error);
    // No frame comes any more: Receive gives the packets still held back, then none.
    bool Drain(std::string* error);

private:
    CodecSession() = default;
    bool Fail(uint32_t frameNumber, const std::string& text, std::string* error);
    // The frame that hands lent pixels to the encoder as they lie; null when they
    // must be converted (or copied) into a frame of the session's own.
    AVFrame* LentFrame(const uint8_t* pixels, size_t stride);

    // Lent pixels, each wrapped once in a buffer the encoder takes references to; the
    // session's own reference is the last one when the encoder has let go.
    struct Lent {
        const uint8_t* pixels = nullptr;
        size_t size = 0;
        AVBufferRef* buffer = nullptr;
    };

    const AVCodec* codec_ = nullptr;
    std::unique_ptr<CodecEncoderSetup> setup_;
    AVCodecContext* context_ = nullptr;
    SwsContext* scaler_ = nullptr;
    std::vector<AVFrame*> frames_;  // converted pictures, used in turn while the encoder holds some
    bool lends_ = false;            // the encoder takes the input format as it is
    AVFrame* lentFrame_ = nullptr;  // describes lent pixels for one Send
    std::vector<Lent> lent_;
    AVPacket* packet_ = nullptr;
    // Frame numbers sent whose packets have not come yet, oldest first (a ring).
    std::vector<uint32_t> pending_;
    size_t pendingFirst_ = 0, pendingCount_ = 0;
    bool draining_ = false;
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
