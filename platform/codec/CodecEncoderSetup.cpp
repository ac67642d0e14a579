#include "platform/codec/CodecEncoderSetup.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>

namespace platform {

namespace {

bool NameIs(const AVCodec* codec, const char* name)
{
    return std::strcmp(codec->name, name) == 0;
}

bool HasPrivateOption(const AVCodec* codec, const char* option)
{
    if (!codec->priv_class)
        return false;
    const AVClass* cls = codec->priv_class;
    return av_opt_find(&cls, option, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ) != nullptr;
}

QualityKnob KnobOf(const AVCodec* codec)
{
    // Every encoder built on libavcodec's MPEG video engine (MPEG-1/2/4, H.261/H.263,
    // the MS MPEG-4 and WMV variants, FLV, RealVideo, MJPEG, AMV, SpeedHQ) has the
    // engine's "mpv_flags" option and a fixed-quantiser mode.
    if (HasPrivateOption(codec, "mpv_flags") || NameIs(codec, "snow") || NameIs(codec, "libxvid"))
        return QualityKnob::Quantiser;
    if (NameIs(codec, "libx264") || NameIs(codec, "libx264rgb") || NameIs(codec, "libvpx") ||
        NameIs(codec, "libvpx-vp9") || NameIs(codec, "libaom-av1"))
        return QualityKnob::RateFactor;
    if (NameIs(codec, "libtheora"))
        return QualityKnob::Theora;
    return QualityKnob::None;
}

// 0 at quality 10000, 1 at quality 0.
double Coarseness(uint32_t quality)
{
    return (10000.0 - std::min<uint32_t>(quality, 10000)) / 10000.0;
}

int CoreThreads()
{
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores, 1u, 8u));
}

int ThreadCount(const AVCodec* codec)
{
    // Frame threads hold frames back, so only encoders that split one picture among
    // threads (or thread inside an outside library) get more than one here.
    if (!(codec->capabilities & (AV_CODEC_CAP_SLICE_THREADS | AV_CODEC_CAP_OTHER_THREADS)))
        return 1;
    return CoreThreads();
}

// Intra-only encoders whose frame threads give the packets back in the order of the
// frames, each at its own frame: their delay is only the number of threads.
bool TakesFrameThreads(const AVCodec* codec)
{
    if (!(codec->capabilities & AV_CODEC_CAP_FRAME_THREADS))
        return false;
    return NameIs(codec, "utvideo") || NameIs(codec, "huffyuv") || NameIs(codec, "ffvhuff") ||
           NameIs(codec, "magicyuv");
}

void SetOption(AVDictionary** options, const char* key, const std::string& value)
{
    av_dict_set(options, key, value.c_str(), 0);
}

}  // namespace

CodecEncoderSetup::CodecEncoderSetup(const AVCodec* codec, bool frameThreads)
    : codec_(codec), knob_(KnobOf(codec)), frameThreads_(frameThreads && TakesFrameThreads(codec) ? CoreThreads() : 0)
{
}

int CodecEncoderSetup::FrameLambda(uint32_t quality)
{
    // Quantiser 1..31; the curve keeps the upper half of the scale for the fine
    // quantisers that screen text needs (7500 gives 3, 5000 gives 8).
    const double t = Coarseness(quality);
    const int q = std::clamp(static_cast<int>(std::lround(1.0 + 30.0 * t * t)), 1, 31);
    return q * FF_QP2LAMBDA;
}

void CodecEncoderSetup::Configure(AVCodecContext* context, AVDictionary** options, uint32_t quality) const
{
    context->time_base = AVRational{1, kNominalFrameRate};
    context->framerate = AVRational{kNominalFrameRate, 1};
    context->gop_size = kKeyFrameInterval;
    context->max_b_frames = 0;
    context->has_b_frames = 0;
    if (FrameThreaded()) {
        context->thread_type = FF_THREAD_FRAME;
        context->thread_count = frameThreads_;
    } else {
        context->thread_type = FF_THREAD_SLICE;
        context->thread_count = ThreadCount(codec_);
    }
    if (codec_->id == AV_CODEC_ID_MPEG2VIDEO)
        context->flags |= AV_CODEC_FLAG_LOW_DELAY;  // no reordering delay without B-frames

    const double t = Coarseness(quality);
    switch (knob_) {
    case QualityKnob::Quantiser:
        context->flags |= AV_CODEC_FLAG_QSCALE;
        context->global_quality = FrameLambda(quality);
        break;
    case QualityKnob::RateFactor: {
        const bool x264 = NameIs(codec_, "libx264") || NameIs(codec_, "libx264rgb");
        SetOption(options, "crf", std::to_string(std::lround((x264 ? 51.0 : 63.0) * t)));
        if (NameIs(codec_, "libvpx"))
            // VP8 caps its constant-quality mode by a bit rate: make it generous.
            context->bit_rate = std::max<int64_t>(int64_t(context->width) * context->height * 8, 1000000);
        else
            context->bit_rate = 0;
        break;
    }
    case QualityKnob::Theora:
        context->flags |= AV_CODEC_FLAG_QSCALE;
        context->global_quality = static_cast<int>(std::lround((1.0 - t) * 10.0 * FF_QP2LAMBDA));
        break;
    case QualityKnob::None:
        break;
    }

    if (NameIs(codec_, "libx264") || NameIs(codec_, "libx264rgb")) {
        SetOption(options, "preset", "veryfast");
        SetOption(options, "tune", "zerolatency");
    } else if (NameIs(codec_, "libvpx") || NameIs(codec_, "libvpx-vp9")) {
        SetOption(options, "deadline", "realtime");
        SetOption(options, "cpu-used", "8");
        SetOption(options, "lag-in-frames", "0");
        SetOption(options, "auto-alt-ref", "0");
        if (NameIs(codec_, "libvpx-vp9"))
            SetOption(options, "row-mt", "1");
    } else if (NameIs(codec_, "libaom-av1")) {
        SetOption(options, "usage", "realtime");
        SetOption(options, "cpu-used", "8");
        SetOption(options, "lag-in-frames", "0");
        SetOption(options, "row-mt", "1");
    }
}

}  // namespace platform
