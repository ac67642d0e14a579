// How an encoder is set up to compress screen frames: no B-frames, a fixed key-frame
// interval, slice threads (or, where asked for, frame threads for the intra-only
// encoders that have them), and its quality knob driven from the 0..10000 quality
// scale.
#pragma once

#include <cstdint>

struct AVCodec;
struct AVCodecContext;
struct AVDictionary;

namespace platform {

// Quality the compressors are set up with by default, on the 0..10000 scale.
inline constexpr uint32_t kDefaultQuality = 7500;

// The frame rate of the stream is not known to the compressor. Time is counted in
// frames of this nominal rate; it only matters to encoders that spread a bit rate.
inline constexpr int kNominalFrameRate = 15;

// A key frame every 100 frames: about 7 s at 15 frames per second and 3 s at 30, so a
// player can seek and a damaged file recovers within seconds, while screen content,
// which mostly stands still, does not pay for frequent full pictures.
inline constexpr int kKeyFrameInterval = 100;

// The encoder's quality knob, where it has one.
enum class QualityKnob {
    None,        // lossless, fixed-rate or without a quality setting: its own defaults
    Quantiser,   // fixed quantiser per frame (MPEG-family, Snow, Xvid): frame quality
    RateFactor,  // constant rate factor set when opened (x264, libvpx, libaom)
    Theora,      // libtheora's 0..10 quality, set when opened
};

class CodecEncoderSetup {
public:
    // frameThreads: an encoder that compresses whole frames in parallel without
    // reordering them (Ut Video, Huffyuv, FFVHuff, MagicYUV) gets frame threads; its
    // packets then come some frames late, in order.
    explicit CodecEncoderSetup(const AVCodec* codec, bool frameThreads = false);

    // Fills the context's rate, key-frame, delay and thread fields and the encoder's
    // private options, at the given quality. Width, height and pixel format are the
    // caller's.
    void Configure(AVCodecContext* context, AVDictionary** options, uint32_t quality) const;

    QualityKnob Knob() const { return knob_; }
    // The lambda a frame carries for a quality (Quantiser knob only).
    static int FrameLambda(uint32_t quality);
    // Whether Configure gives the encoder frame threads (packets come late).
    bool FrameThreaded() const { return frameThreads_ > 1; }
    // Frames the encoder may hold at once (1 without frame threads).
    int FramesInFlight() const { return frameThreads_ > 1 ? frameThreads_ : 1; }

private:
    const AVCodec* codec_;
    QualityKnob knob_;
    int frameThreads_ = 0;
};

}  // namespace platform
