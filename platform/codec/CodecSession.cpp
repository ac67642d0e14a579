#include "platform/codec/CodecSession.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/codec/CodecAviTag.h"
#include "platform/codec/CodecLog.h"
#include "platform/codec/CodecPixelFormat.h"
#include "platform/codec/CodecStreamCheck.h"

namespace platform {

namespace {

// Lent buffers kept wrapped at once: a recording lends a few frame buffers in turn.
constexpr size_t kMostLent = 8;

std::string SizeText(int width, int height)
{
    return std::to_string(width) + "x" + std::to_string(height);
}

std::string WithLog(std::string text, CodecLogCapture& log)
{
    const std::string logged = log.Take();
    if (!logged.empty())
        text += " (" + logged + ")";
    return text;
}

bool IsRgbFormat(AVPixelFormat format)
{
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    return desc && (desc->flags & AV_PIX_FMT_FLAG_RGB);
}

bool IsFullRangeYuv(AVPixelFormat format)
{
    return format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P || format == AV_PIX_FMT_YUVJ444P ||
           format == AV_PIX_FMT_YUVJ440P || format == AV_PIX_FMT_YUVJ411P;
}

// The encoder's context opened for that size and pixel format; null with *error set.
AVCodecContext* OpenContext(const AVCodec* codec, const CodecEncoderSetup& setup, int width, int height,
                            AVPixelFormat format, std::string* error, CodecLogCapture& log)
{
    const std::string what = std::string(codec->name) + " for " + SizeText(width, height);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    if (!context) {
        *error = "out of memory for the " + std::string(codec->name) + " encoder";
        return nullptr;
    }
    context->width = width;
    context->height = height;
    context->pix_fmt = format;
    context->sample_aspect_ratio = AVRational{1, 1};
    if (!IsRgbFormat(format)) {
        // libswscale converts with BT.601 coefficients, to full range for the JPEG
        // formats and to video range otherwise; say so in the stream.
        context->colorspace = AVCOL_SPC_SMPTE170M;
        context->color_primaries = AVCOL_PRI_SMPTE170M;
        context->color_trc = AVCOL_TRC_SMPTE170M;
        context->color_range = IsFullRangeYuv(format) ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    } else {
        context->colorspace = AVCOL_SPC_RGB;
    }
    AVDictionary* options = nullptr;
    setup.Configure(context, &options, kDefaultQuality);
    const int opened = avcodec_open2(context, codec, &options);
    av_dict_free(&options);
    if (opened < 0) {
        *error = WithLog("cannot open " + what + " in " + av_get_pix_fmt_name(format) + ": " + AvErrorText(opened),
                         log);
        avcodec_free_context(&context);
        return nullptr;
    }
    if (context->max_b_frames > 0) {
        *error = what + ": the encoder insists on B-frames";
        avcodec_free_context(&context);
        return nullptr;
    }
    return context;
}

}  // namespace

std::unique_ptr<CodecSession> CodecSession::Open(const AVCodec* codec, const BitmapInfoHeader& input,
                                                 std::string* error, bool frameThreads)
{
    CodecLogCapture log;
    const int64_t rows = input.biHeight < 0 ? -int64_t(input.biHeight) : int64_t(input.biHeight);
    const int width = input.biWidth;
    const int height = rows > INT32_MAX ? 0 : int(rows);
    const std::string what = std::string(codec->name) + " for " + SizeText(width, height);
    if (width <= 0 || height <= 0 || av_image_check_size(unsigned(width), unsigned(height), 0, nullptr) < 0) {
        *error = "cannot compress frames of " + SizeText(input.biWidth, input.biHeight) + ": not a valid size";
        return nullptr;
    }
    std::string formatError;
    const AVPixelFormat inputFormat = InputPixelFormat(input, &formatError);
    if (inputFormat == AV_PIX_FMT_NONE) {
        *error = codec->name + std::string(": ") + formatError;
        return nullptr;
    }
    const std::vector<AVPixelFormat> formats = EncoderPixelFormats(codec, inputFormat);
    if (formats.empty()) {
        *error = std::string(codec->name) + ": no pixel format it takes can be reached from " +
                 av_get_pix_fmt_name(inputFormat);
        return nullptr;
    }

    std::unique_ptr<CodecSession> session(new CodecSession);
    session->codec_ = codec;
    session->setup_ = std::make_unique<CodecEncoderSetup>(codec, frameThreads);
    session->input_ = input;
    session->inputFormat_ = inputFormat;
    // The formats in turn: one an encoder refuses at this size (x264 takes no odd size
    // in 4:2:0) leaves the next.
    std::string refusals;
    for (AVPixelFormat format : formats) {
        std::string text;
        session->context_ = OpenContext(codec, *session->setup_, width, height, format, &text, log);
        if (session->context_) {
            session->handler_ = AviStreamTag(session->context_);
            if (session->handler_ != 0)
                break;
            text = what + ": no AVI code lets a player decode its " + av_get_pix_fmt_name(format) + " stream";
            avcodec_free_context(&session->context_);
        }
        refusals += (refusals.empty() ? "" : "; ") + text;
    }
    if (!session->context_) {
        *error = refusals;
        return nullptr;
    }
    AVCodecContext* context = session->context_;
    const AVPixelFormat encoderFormat = context->pix_fmt;
    session->encoderFormat_ = encoderFormat;

    session->packet_ = av_packet_alloc();
    if (!session->packet_) {
        *error = "out of memory for " + what;
        return nullptr;
    }
    // More frames than the encoder holds at once (FFV1 keeps its last as a reference;
    // frame threads hold one per thread and one waiting), so one is always free.
    const int inFlight = session->setup_->FramesInFlight();
    session->frames_.assign(size_t(inFlight) + 2, nullptr);
    session->pending_.assign(size_t(inFlight) + 2, 0);
    for (AVFrame*& frame : session->frames_) {
        frame = av_frame_alloc();
        if (!frame) {
            *error = "out of memory for " + what;
            return nullptr;
        }
        frame->format = encoderFormat;
        frame->width = width;
        frame->height = height;
        frame->sample_aspect_ratio = context->sample_aspect_ratio;
        frame->colorspace = context->colorspace;
        frame->color_primaries = context->color_primaries;
        frame->color_trc = context->color_trc;
        const int allocated = av_frame_get_buffer(frame, 0);
        if (allocated < 0) {
            *error = "cannot allocate a frame for " + what + ": " + AvErrorText(allocated);
            return nullptr;
        }
    }
    session->scaler_ = sws_getContext(width, height, inputFormat, width, height, encoderFormat,
                                      SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP | SWS_FULL_CHR_H_INT, nullptr, nullptr,
                                      nullptr);
    if (!session->scaler_) {
        *error = WithLog(std::string("cannot convert ") + av_get_pix_fmt_name(inputFormat) + " to " +
                             av_get_pix_fmt_name(encoderFormat) + " for " + what,
                         log);
        return nullptr;
    }

    // A packet never exceeds twice the raw picture (of the input or the encoder's
    // format, whichever is larger) plus headroom for headers.
    const int encoderBytes = av_image_get_buffer_size(encoderFormat, width, height, 1);
    const int inputBytes = av_image_get_buffer_size(inputFormat, width, height, 1);
    const uint64_t bound = 2ull * uint64_t(std::max({encoderBytes, inputBytes, 0})) + 65536 +
                           uint64_t(std::max(context->extradata_size, 0));
    if (bound > 0x7FFFFFFFull) {
        *error = what + ": frames too large";
        return nullptr;
    }
    session->maxPacketSize_ = static_cast<uint32_t>(bound);
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(codec->id);
    session->intraOnly_ = descriptor && (descriptor->props & AV_CODEC_PROP_INTRA_ONLY);
    // An encoder that takes the grabbed format reads the caller's pixels where they
    // lie. Not with frame threads: those would read them after Send has returned,
    // while the caller may already need the buffer again.
    if (encoderFormat == inputFormat && !session->setup_->FrameThreaded()) {
        session->lentFrame_ = av_frame_alloc();
        session->lends_ = session->lentFrame_ != nullptr;
        session->lent_.reserve(kMostLent);
    }
    return session;
}

CodecSession::~CodecSession()
{
    CodecLogCapture log;  // closing encoders report statistics: not wanted
    sws_freeContext(scaler_);
    av_packet_free(&packet_);
    for (AVFrame*& frame : frames_)
        av_frame_free(&frame);
    avcodec_free_context(&context_);
    av_frame_free(&lentFrame_);
    for (Lent& lent : lent_)
        av_buffer_unref(&lent.buffer);
}

AVFrame* CodecSession::LentFrame(const uint8_t* pixels, size_t stride)
{
    const size_t size = stride * size_t(context_->height);
    Lent* slot = nullptr;
    for (Lent& lent : lent_)
        if (lent.pixels == pixels && lent.size == size) {
            slot = &lent;
            break;
        }
    if (!slot) {
        // A buffer the encoder no longer reads makes room for the new one.
        for (Lent& lent : lent_)
            if (av_buffer_get_ref_count(lent.buffer) == 1) {
                av_buffer_unref(&lent.buffer);
                slot = &lent;
                break;
            }
        if (!slot && lent_.size() < kMostLent)
            slot = &lent_.emplace_back();
        if (!slot)
            return nullptr;
        // The pixels stay the caller's: the buffer frees nothing.
        slot->buffer = av_buffer_create(const_cast<uint8_t*>(pixels), size, [](void*, uint8_t*) {}, nullptr,
                                        AV_BUFFER_FLAG_READONLY);
        if (!slot->buffer) {
            *slot = Lent{};
            return nullptr;
        }
        slot->pixels = pixels;
        slot->size = size;
    }
    AVFrame* frame = lentFrame_;
    frame->buf[0] = av_buffer_ref(slot->buffer);
    if (!frame->buf[0])
        return nullptr;
    frame->data[0] = const_cast<uint8_t*>(pixels);
    frame->linesize[0] = int(stride);
    frame->format = encoderFormat_;
    frame->width = context_->width;
    frame->height = context_->height;
    frame->sample_aspect_ratio = context_->sample_aspect_ratio;
    frame->colorspace = context_->colorspace;
    frame->color_primaries = context_->color_primaries;
    frame->color_trc = context_->color_trc;
    return frame;
}

bool CodecSession::Holds(const uint8_t* pixels) const
{
    for (const Lent& lent : lent_)
        if (lent.pixels == pixels && lent.buffer)
            return av_buffer_get_ref_count(lent.buffer) > 1;
    return false;
}

bool CodecSession::Matches(const BitmapInfoHeader& input) const
{
    return input.biWidth == input_.biWidth && input.biHeight == input_.biHeight &&
           input.biBitCount == input_.biBitCount && input.biCompression == input_.biCompression;
}

uint16_t CodecSession::BitCount() const
{
    if (context_->bits_per_coded_sample > 0)
        return static_cast<uint16_t>(context_->bits_per_coded_sample);
    return 24;
}

const uint8_t* CodecSession::ExtraData() const
{
    return context_->extradata;
}

uint32_t CodecSession::ExtraDataSize() const
{
    return context_->extradata && context_->extradata_size > 0 ? uint32_t(context_->extradata_size) : 0;
}

bool CodecSession::Trial(std::string* error)
{
    const int height = context_->height;
    const size_t stride = size_t(context_->width) * size_t(input_.biBitCount / 8);
    std::vector<uint8_t> pixels(stride * size_t(height), 0x80);
    std::vector<uint8_t> packet(maxPacketSize_);
    uint32_t bytes = 0;
    bool key = false;
    if (!Encode(pixels.data(), stride, 0, kDefaultQuality, packet.data(), uint32_t(packet.size()), &bytes, &key,
                error))
        return false;
    CodecStreamFormat format;
    format.handler = handler_;
    format.width = context_->width;
    format.height = context_->height;
    format.bitCount = BitCount();
    format.extraData = ExtraData();
    format.extraDataSize = ExtraDataSize();
    std::string text;
    if (!DecodesAsStream(format, packet.data(), bytes, &text)) {
        *error = std::string(codec_->name) + " for " + SizeText(format.width, format.height) + ": " + text;
        return false;
    }
    return true;
}

bool CodecSession::Fail(uint32_t frameNumber, const std::string& text, std::string* error)
{
    *error = std::string(codec_->name) + " frame " + std::to_string(frameNumber) + ": " + text;
    return false;
}

bool CodecSession::Send(const uint8_t* pixels, size_t stride, uint32_t frameNumber, uint32_t quality,
                        std::string* error, bool lend)
{
    CodecLogCapture log;
    // Texts are made only when something fails: a frame that goes well allocates nothing.
    const auto fail = [&](const std::string& text) { return Fail(frameNumber, WithLog(text, log), error); };
    av_packet_unref(packet_);
    if (!pixels || stride == 0 || stride > size_t(INT32_MAX))
        return fail("no pixels");
    if (draining_)
        return fail("a frame after the end of the stream");
    if (pendingCount_ == pending_.size())
        return fail("the encoder holds more frames than it has threads");
    AVFrame* frame = lend && lends_ ? LentFrame(pixels, stride) : nullptr;
    const bool lent = frame != nullptr;
    int result = 0;
    if (!lent) {
        // The encoder may keep frames (FFV1 its last as a reference, frame threads the
        // ones they work on): the first free frame takes the picture. Only if every one
        // is held does this make a new buffer.
        frame = frames_[0];
        for (AVFrame* candidate : frames_)
            if (av_frame_is_writable(candidate)) {
                frame = candidate;
                break;
            }
        result = av_frame_make_writable(frame);
        if (result < 0)
            return fail(AvErrorText(result));
        const uint8_t* source[4] = {pixels, nullptr, nullptr, nullptr};
        const int sourceStride[4] = {static_cast<int>(stride), 0, 0, 0};
        sws_scale(scaler_, source, sourceStride, 0, context_->height, frame->data, frame->linesize);
    }

    // Frame numbers only grow; the first one may come twice, so the time stamp
    // follows the frame number but always moves on.
    const int64_t pts = std::max<int64_t>(frameNumber, nextPts_);
    nextPts_ = pts + 1;
    frame->pts = pts;
    frame->pict_type = AV_PICTURE_TYPE_NONE;
    frame->quality = 0;
    if (setup_->Knob() == QualityKnob::Quantiser) {
        const bool ownQuality = quality == kDefaultQuality || quality > 10000;
        frame->quality = ownQuality ? context_->global_quality : CodecEncoderSetup::FrameLambda(quality);
    }

    result = avcodec_send_frame(context_, frame);
    if (lent) {
        av_frame_unref(frame);  // the encoder has references of its own where it keeps the pixels
        // An encoder that keeps lent pixels past its Send (a look-ahead of its own)
        // would hold every buffer of the caller's in the end: later frames are copied.
        if (Holds(pixels))
            lends_ = false;
    }
    if (result < 0)
        return fail(AvErrorText(result));
    pending_[(pendingFirst_ + pendingCount_) % pending_.size()] = frameNumber;
    ++pendingCount_;
    return true;
}

bool CodecSession::Receive(Packet* packet, std::string* error)
{
    CodecLogCapture log;
    error->clear();
    av_packet_unref(packet_);
    const uint32_t frameNumber = pendingCount_ ? pending_[pendingFirst_] : uint32_t(nextPts_);
    const int result = avcodec_receive_packet(context_, packet_);
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
        return false;
    if (result < 0)
        return Fail(frameNumber, WithLog(AvErrorText(result), log), error);
    // Exactly one packet per frame: one more would belong to no frame.
    if (pendingCount_ == 0)
        return Fail(frameNumber, "the encoder gave more than one packet for a frame", error);
    pendingFirst_ = (pendingFirst_ + 1) % pending_.size();
    --pendingCount_;
    if (packet_->size < 0)
        return Fail(frameNumber, "a packet of negative size", error);
    packet->data = packet_->data;
    packet->size = uint32_t(packet_->size);
    packet->frameNumber = frameNumber;
    packet->keyFrame = (packet_->flags & AV_PKT_FLAG_KEY) != 0 || intraOnly_ || !started_;
    started_ = true;
    return true;
}

bool CodecSession::Drain(std::string* error)
{
    av_packet_unref(packet_);
    if (draining_)
        return true;
    draining_ = true;
    const int result = avcodec_send_frame(context_, nullptr);
    if (result < 0 && result != AVERROR_EOF)
        return Fail(uint32_t(nextPts_), AvErrorText(result), error);
    return true;
}

bool CodecSession::Encode(const uint8_t* pixels, size_t stride, uint32_t frameNumber, uint32_t quality,
                          uint8_t* out, uint32_t capacity, uint32_t* outSize, bool* keyFrame, std::string* error)
{
    if (!out)
        return Fail(frameNumber, "no output buffer", error);
    if (!Send(pixels, stride, frameNumber, quality, error))
        return false;
    Packet packet;
    if (!Receive(&packet, error)) {
        if (error->empty())
            Fail(frameNumber, "the encoder held the frame back instead of compressing it at once", error);
        return false;
    }
    if (packet.size > capacity)
        return Fail(frameNumber,
                    "compressed frame of " + std::to_string(packet.size) + " bytes exceeds the " +
                        std::to_string(capacity) + "-byte buffer",
                    error);
    if (packet.size > 0)
        std::memcpy(out, packet.data, packet.size);
    *outSize = packet.size;
    *keyFrame = packet.keyFrame;
    // Exactly one packet per frame, at once.
    Packet more;
    if (Receive(&more, error))
        return Fail(frameNumber, "the encoder gave more than one packet for a frame", error);
    return error->empty();
}

}  // namespace platform
