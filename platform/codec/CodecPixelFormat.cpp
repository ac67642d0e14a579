#include "platform/codec/CodecPixelFormat.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <vector>

namespace platform {

AVPixelFormat InputPixelFormat(const BitmapInfoHeader& input, std::string* error)
{
    if (input.biCompression != TAVREC_BI_RGB) {
        *error = "input frames are not uncompressed RGB (biCompression " +
                 std::to_string(input.biCompression) + ")";
        return AV_PIX_FMT_NONE;
    }
    switch (input.biBitCount) {
    case 32: return AV_PIX_FMT_BGR0;
    case 24: return AV_PIX_FMT_BGR24;
    case 16: return AV_PIX_FMT_RGB555LE;
    case 8:
        *error = "8-bit palette frames cannot be compressed (the colour table is not available)";
        return AV_PIX_FMT_NONE;
    default:
        *error = "input frames of " + std::to_string(input.biBitCount) + " bits per pixel cannot be compressed";
        return AV_PIX_FMT_NONE;
    }
}

AVPixelFormat EncoderPixelFormat(const AVCodec* codec, AVPixelFormat input)
{
    if (!codec->pix_fmts)
        return input;  // the encoder takes any format: keep the input's
    std::vector<AVPixelFormat> usable;
    for (const AVPixelFormat* f = codec->pix_fmts; *f != AV_PIX_FMT_NONE; ++f) {
        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(*f);
        if (!desc || (desc->flags & AV_PIX_FMT_FLAG_HWACCEL))
            continue;
        if (*f != input && !sws_isSupportedOutput(*f))
            continue;
        usable.push_back(*f);
    }
    if (usable.empty())
        return AV_PIX_FMT_NONE;
    usable.push_back(AV_PIX_FMT_NONE);
    int loss = 0;
    return avcodec_find_best_pix_fmt_of_list(usable.data(), input, 0, &loss);
}

std::vector<AVPixelFormat> EncoderPixelFormats(const AVCodec* codec, AVPixelFormat input)
{
    std::vector<AVPixelFormat> formats;
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(codec->id);
    const bool lossy = descriptor && (descriptor->props & AV_CODEC_PROP_LOSSY);
    if (lossy && codec->pix_fmts) {
        for (const AVPixelFormat* f = codec->pix_fmts; *f != AV_PIX_FMT_NONE; ++f)
            if (*f == AV_PIX_FMT_YUV420P || *f == AV_PIX_FMT_YUVJ420P) {
                formats.push_back(*f);
                break;
            }
    }
    const AVPixelFormat least = EncoderPixelFormat(codec, input);
    if (least != AV_PIX_FMT_NONE && (formats.empty() || formats.front() != least))
        formats.push_back(least);
    return formats;
}

}  // namespace platform
