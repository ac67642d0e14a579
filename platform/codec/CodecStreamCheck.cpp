#include "platform/codec/CodecStreamCheck.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

#include <cstring>
#include <memory>

#include "platform/codec/CodecLog.h"

namespace platform {

namespace {

struct ContextFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};

std::string Failed(const char* step, int result, CodecLogCapture& log)
{
    std::string text = std::string(step) + ": " + AvErrorText(result);
    const std::string logged = log.Take();
    if (!logged.empty())
        text += " (" + logged + ")";
    return text;
}

}  // namespace

bool DecodesAsStream(const CodecStreamFormat& format, const uint8_t* packet, uint32_t size, std::string* error)
{
    CodecLogCapture log;
    const AVCodecTag* const tags[] = {avformat_get_riff_video_tags(), nullptr};
    const AVCodec* decoder = avcodec_find_decoder(av_codec_get_id(tags, format.handler));
    if (!decoder)
        return true;
    std::unique_ptr<AVCodecContext, ContextFree> context(avcodec_alloc_context3(decoder));
    std::unique_ptr<AVPacket, PacketFree> input(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
    if (!context || !input || !frame || av_new_packet(input.get(), int(size)) < 0) {
        *error = "out of memory for the decoding check";
        return false;
    }
    context->codec_tag = format.handler;
    context->width = format.width;
    context->height = format.height;
    context->bits_per_coded_sample = format.bitCount;
    context->thread_count = 1;
    if (format.extraDataSize > 0) {
        context->extradata = static_cast<uint8_t*>(av_mallocz(format.extraDataSize + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!context->extradata) {
            *error = "out of memory for the decoding check";
            return false;
        }
        std::memcpy(context->extradata, format.extraData, format.extraDataSize);
        context->extradata_size = int(format.extraDataSize);
    }
    int result = avcodec_open2(context.get(), decoder, nullptr);
    if (result < 0) {
        *error = "the " + std::string(decoder->name) + " decoder does not open for the stream: " +
                 Failed("open", result, log);
        return false;
    }
    if (size > 0)
        std::memcpy(input->data, packet, size);
    input->flags = AV_PKT_FLAG_KEY;
    result = avcodec_send_packet(context.get(), input.get());
    if (result >= 0)
        result = avcodec_send_packet(context.get(), nullptr);  // drain: no frame may stay behind
    if (result >= 0)
        result = avcodec_receive_frame(context.get(), frame.get());
    if (result < 0) {
        *error = "the " + std::string(decoder->name) + " decoder cannot read the compressed frame: " +
                 Failed("decode", result, log);
        return false;
    }
    if (frame->width != format.width || frame->height != format.height) {
        *error = "the " + std::string(decoder->name) + " decoder reads a " + std::to_string(frame->width) + "x" +
                 std::to_string(frame->height) + " picture";
        return false;
    }
    return true;
}

}  // namespace platform
