#include "platform/codec/CodecRegistry.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/hwcontext.h>
}

#include <cstring>
#include <mutex>
#include <vector>

#include "platform/Utf8ToUtf16.h"
#include "platform/codec/CodecAviTag.h"
#include "platform/codec/CodecLog.h"
#include "platform/codec/CodecSession.h"

namespace platform {

namespace {

struct ProbeSize {
    int width;
    int height;
};

// The general probe size, then the fixed picture sizes of the encoders that only take
// a few (CIF and QCIF for H.261 and H.263, PAL DV, 720p).
constexpr ProbeSize kGeneralSize{192, 144};
constexpr ProbeSize kFixedSizes[] = {{352, 288}, {176, 144}, {720, 576}, {1280, 720}};
constexpr int kProbeFrames = 2;

BitmapInfoHeader ProbeFormat(ProbeSize size)
{
    BitmapInfoHeader format{};
    format.biSize = sizeof format;
    format.biWidth = size.width;
    format.biHeight = size.height;
    format.biPlanes = 1;
    format.biBitCount = 32;
    format.biCompression = TAVREC_BI_RGB;
    format.biSizeImage = uint32_t(size.width) * 4u * uint32_t(size.height);
    return format;
}

// Opens the encoder at that size and compresses a few different frames, each of which
// must come out as one packet at once, the first read back by its decoder.
bool Probe(const AVCodec* codec, ProbeSize size)
{
    std::string error;
    std::unique_ptr<CodecSession> session = CodecSession::Open(codec, ProbeFormat(size), &error);
    if (!session || !session->Trial(&error))
        return false;
    const size_t stride = size_t(size.width) * 4;
    std::vector<uint8_t> pixels(stride * size_t(size.height));
    std::vector<uint8_t> packet(session->MaxPacketSize());
    for (int n = 1; n <= kProbeFrames; ++n) {
        for (int y = 0; y < size.height; ++y)
            for (int x = 0; x < size.width; ++x) {
                uint8_t* p = &pixels[size_t(y) * stride + size_t(x) * 4];
                p[0] = uint8_t(x * 3 + n * 16);
                p[1] = uint8_t(y * 2 + n * 8);
                p[2] = uint8_t((x ^ y) + n * 32);
                p[3] = 0;
            }
        uint32_t bytes = 0;
        bool key = false;
        if (!session->Encode(pixels.data(), stride, uint32_t(n), kDefaultQuality, packet.data(),
                             uint32_t(packet.size()), &bytes, &key, &error))
            return false;
    }
    return true;
}

// Whether the encoder works here, and at which size.
bool Admit(const AVCodec* codec, CodecEntry* entry)
{
    if (Probe(codec, kGeneralSize)) {
        entry->anySize = true;
        entry->probeWidth = kGeneralSize.width;
        entry->probeHeight = kGeneralSize.height;
        return true;
    }
    for (ProbeSize size : kFixedSizes)
        if (Probe(codec, size)) {
            entry->probeWidth = size.width;
            entry->probeHeight = size.height;
            return true;
        }
    return false;
}

// Whether an encoder that works on a device (VAAPI, QSV, CUDA) has one here. Without
// it the encoder cannot open, and some of them (mjpeg_qsv) leak what their failed
// set-up allocated, at every size tried: they are not opened at all.
bool DeviceAvailable(const AVCodec* codec)
{
    CodecLogCapture quiet;  // "cannot load libcuda" and the like are expected here
    bool needsDevice = false;
    for (int i = 0; const AVCodecHWConfig* config = avcodec_get_hw_config(codec, i); ++i) {
        if (config->device_type == AV_HWDEVICE_TYPE_NONE)
            continue;
        needsDevice = true;
        AVBufferRef* device = nullptr;
        if (av_hwdevice_ctx_create(&device, config->device_type, nullptr, nullptr, 0) == 0) {
            av_buffer_unref(&device);
            return true;
        }
    }
    return !needsDevice;
}

// An encoder with an AVI code, and whether it works here once that has been tried.
struct Candidate {
    CodecEntry entry;
    std::once_flag tried;
    bool admitted = false;
};

class CandidateList {
public:
    CandidateList()
    {
        std::vector<const AVCodec*> codecs;
        void* iterator = nullptr;
        while (const AVCodec* codec = av_codec_iterate(&iterator))
            if (codec->type == AVMEDIA_TYPE_VIDEO && av_codec_is_encoder(codec) && AviTableTag(codec->id) != 0)
                codecs.push_back(codec);
        // Sized once: the entries never move, so pointers to them stay valid.
        candidates_ = std::vector<Candidate>(codecs.size());
        for (size_t i = 0; i < codecs.size(); ++i) {
            CodecEntry& entry = candidates_[i].entry;
            entry.codec = codecs[i];
            entry.info.fccType = kCodecTypeVideo;
            entry.info.fccHandler = AviTableTag(codecs[i]->id);
            entry.info.description = Utf8ToUtf16(codecs[i]->long_name ? codecs[i]->long_name : codecs[i]->name);
            entry.info.encoderName = codecs[i]->name;
        }
    }

    static CandidateList& Instance()
    {
        static CandidateList list;
        return list;
    }

    std::vector<Candidate>& All() { return candidates_; }

    // The entry when the encoder works here (tried on first use), else null.
    static const CodecEntry* Admitted(Candidate& candidate)
    {
        std::call_once(candidate.tried, [&candidate] {
            candidate.admitted = DeviceAvailable(candidate.entry.codec) && Admit(candidate.entry.codec, &candidate.entry);
        });
        return candidate.admitted ? &candidate.entry : nullptr;
    }

private:
    std::vector<Candidate> candidates_;
};

}  // namespace

const std::vector<const CodecEntry*>& CodecRegistry::Entries()
{
    static const std::vector<const CodecEntry*> entries = [] {
        std::vector<const CodecEntry*> admitted;
        for (Candidate& candidate : CandidateList::Instance().All())
            if (const CodecEntry* entry = CandidateList::Admitted(candidate))
                admitted.push_back(entry);
        return admitted;
    }();
    return entries;
}

const CodecEntry* CodecRegistry::FindFirst(const std::function<bool(const CodecInfo&)>& wanted,
                                           const std::function<bool(const CodecEntry&)>& visit)
{
    for (Candidate& candidate : CandidateList::Instance().All()) {
        if (!wanted(candidate.entry.info))
            continue;
        const CodecEntry* entry = CandidateList::Admitted(candidate);
        if (entry && visit(*entry))
            return entry;
    }
    return nullptr;
}

const CodecEntry* CodecRegistry::Find(uint32_t fccType, uint32_t fccHandler)
{
    if (fccType != 0 && fccType != kCodecTypeVideo)
        return nullptr;
    // By code, an encoder that takes any picture size comes before one that only takes
    // a few fixed sizes (h263p before h263).
    const CodecEntry* fixedSize = nullptr;
    const CodecEntry* found = FindFirst([fccHandler](const CodecInfo& info) { return info.fccHandler == fccHandler; },
                                        [&fixedSize](const CodecEntry& entry) {
                                            if (!entry.anySize && !fixedSize)
                                                fixedSize = &entry;
                                            return entry.anySize;
                                        });
    return found ? found : fixedSize;
}

const CodecEntry* CodecRegistry::FindEncoder(const std::string& encoderName)
{
    return FindFirst([&encoderName](const CodecInfo& info) { return info.encoderName == encoderName; },
                     [](const CodecEntry&) { return true; });
}

}  // namespace platform
