#include "platform/codec/CodecAviTag.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace platform {

namespace {

const AVCodecTag* const* RiffVideoTags()
{
    static const AVCodecTag* const tags[] = {avformat_get_riff_video_tags(), nullptr};
    return tags;
}

}  // namespace

uint32_t AviTableTag(AVCodecID id)
{
    unsigned int tag = 0;
    if (!av_codec_get_tag2(RiffVideoTags(), id, &tag))
        return 0;
    return tag;
}

bool AviTagIsReadable(uint32_t tag)
{
    return tag != 0 && av_codec_get_id(RiffVideoTags(), tag) != AV_CODEC_ID_NONE;
}

uint32_t AviStreamTag(const AVCodecContext* context)
{
    uint32_t tag = context->codec_tag;
    if (tag == 0)
        tag = AviTableTag(context->codec_id);
    return AviTagIsReadable(tag) ? tag : 0;
}

}  // namespace platform
