// links: tavrec_platform_codec tavrec_platform_avi tavrec_support_RiffReader tavrec_support_MediaProbe
//
// The compressors over libavcodec, used the way the video thread uses them (query,
// output format size then contents, begin, one frame at a time, end). Every admitted
// encoder's output is stored with our AVI writer and decoded by ffmpeg: right size,
// right frame count, the right way up, in the right order, and exactly equal to the
// input for the encoders that keep RGB losslessly.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/pixdesc.h>
}

#include "platform/avi/AviFile.h"
#include "platform/codec/CodecEncoderSetup.h"
#include "platform/codec/CodecManager.h"
#include "tests/support/MediaProbe.h"
#include "tests/support/RiffReader.h"

namespace {

using platform::CodecInfo;
using platform::CodecManager;
using platform::Compressor;
using platform::kCodecTypeVideo;

std::string Text(uint32_t code)
{
    std::string s;
    for (int i = 0; i < 4; ++i) {
        const char c = char((code >> (8 * i)) & 0xFF);
        s += (c >= 32 && c < 127) ? c : '.';
    }
    return s;
}

// An info that names only a code: Open takes the compressor listed for it.
CodecInfo ByCode(uint32_t handler)
{
    CodecInfo info;
    info.fccType = kCodecTypeVideo;
    info.fccHandler = handler;
    return info;
}

std::vector<CodecInfo> Enumerate(uint32_t type)
{
    std::vector<CodecInfo> list;
    CodecInfo info;
    for (int i = 0; CodecManager::Info(type, i, &info); ++i)
        list.push_back(info);
    return list;
}

BitmapInfoHeader Frame(int width, int height, int bits = 32)
{
    BitmapInfoHeader h{};
    h.biSize = sizeof h;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = uint16_t(bits);
    h.biCompression = TAVREC_BI_RGB;
    h.biSizeImage = uint32_t(((int64_t(width) * bits + 31) / 32) * 4 * std::abs(int64_t(height)));
    return h;
}

// A picture of known content, top-down, B,G,R,x: G falls from top to bottom (so a
// picture upside down is far off), R is a checkerboard of 64-pixel squares moving
// right 16 pixels a frame, B is a horizontal ramp that brightens each frame.
struct Picture {
    int width = 0, height = 0;
    size_t stride = 0;  // wider than the row, so a stride that is ignored shows
    std::vector<uint8_t> pixels;
};

Picture MovingPattern(int width, int height, int n)
{
    Picture p;
    p.width = width;
    p.height = height;
    p.stride = size_t(width) * 4 + 64;
    p.pixels.assign(p.stride * size_t(height), 0xEE);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* q = &p.pixels[size_t(y) * p.stride + size_t(x) * 4];
            q[0] = uint8_t(std::min(255, x * 160 / width + n * 16));
            q[1] = uint8_t(230 - y * 200 / height);
            q[2] = (((x + 16 * n) / 64 + y / 64) & 1) ? 210 : 50;
            q[3] = 0;
        }
    return p;
}

// The same picture packed in 24 or 16 (RGB555) bits per pixel.
Picture Repack(const Picture& in, int bits)
{
    Picture p;
    p.width = in.width;
    p.height = in.height;
    p.stride = size_t((in.width * bits + 31) / 32) * 4 + 32;
    p.pixels.assign(p.stride * size_t(in.height), 0);
    for (int y = 0; y < in.height; ++y)
        for (int x = 0; x < in.width; ++x) {
            const uint8_t* s = &in.pixels[size_t(y) * in.stride + size_t(x) * 4];
            uint8_t* d = &p.pixels[size_t(y) * p.stride + size_t(x) * size_t(bits / 8)];
            if (bits == 24) {
                d[0] = s[0], d[1] = s[1], d[2] = s[2];
            } else {
                const uint16_t v = uint16_t((s[2] >> 3) << 10 | (s[1] >> 3) << 5 | (s[0] >> 3));
                d[0] = uint8_t(v), d[1] = uint8_t(v >> 8);
            }
        }
    return p;
}

// Rows of the picture without stride padding, as ffmpeg writes raw frames.
std::vector<uint8_t> Tight(const Picture& p, int bytesPerPixel, bool flipped = false)
{
    std::vector<uint8_t> out;
    const size_t row = size_t(p.width) * size_t(bytesPerPixel);
    for (int y = 0; y < p.height; ++y) {
        const int from = flipped ? p.height - 1 - y : y;
        const uint8_t* r = &p.pixels[size_t(from) * p.stride];
        out.insert(out.end(), r, r + row);
    }
    return out;
}

// Mean absolute difference of the B, G and R bytes of two bgr0 pictures.
double MeanError(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    if (a.size() != b.size() || a.empty())
        return 1e9;
    uint64_t sum = 0, count = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        if (i % 4 == 3)
            continue;
        sum += uint64_t(std::abs(int(a[i]) - int(b[i])));
        ++count;
    }
    return double(sum) / double(count);
}

struct Compressed {
    std::vector<uint8_t> format;  // output format, extra data included
    std::vector<std::vector<uint8_t>> packets;
    std::vector<uint32_t> flags;
    uint32_t handler = 0;
    std::string error;
};

// Drives one compressor as the video thread does. Frame numbers are the stream slots:
// the first may come twice and later ones may jump (dropped slots).
bool CompressAll(const CodecInfo& encoder, const BitmapInfoHeader& input, const std::vector<Picture>& pictures,
                 const std::vector<uint32_t>& frameNumbers, Compressed* out, uint32_t quality = UINT32_MAX)
{
    std::unique_ptr<Compressor> c = CodecManager::Open(encoder);
    if (!c) {
        out->error = "does not open";
        return false;
    }
    if (!c->CanCompress(input)) {
        out->error = "refuses the input: " + c->LastError();
        return false;
    }
    if (quality == UINT32_MAX)
        quality = c->DefaultQuality();
    const uint32_t size = c->GetFormatSize(input);
    if (size < sizeof(BitmapInfoHeader)) {
        out->error = "format size " + std::to_string(size);
        return false;
    }
    out->format.assign(size, 0xCD);
    if (!c->GetFormat(input, out->format.data(), size)) {
        out->error = "GetFormat: " + c->LastError();
        return false;
    }
    out->handler = c->GetInfo().fccHandler;
    BitmapInfoHeader format;
    std::memcpy(&format, out->format.data(), sizeof format);
    if (!c->Begin(input, out->format.data(), size)) {
        out->error = "Begin: " + c->LastError();
        return false;
    }
    std::vector<uint8_t> buffer(format.biSizeImage);
    for (size_t i = 0; i < pictures.size(); ++i) {
        uint32_t bytes = 0, flags = 0xDEAD;
        if (!c->Compress(pictures[i].pixels.data(), pictures[i].stride, frameNumbers[i], quality, buffer.data(),
                         uint32_t(buffer.size()), &bytes, &flags)) {
            out->error = "Compress " + std::to_string(i) + ": " + c->LastError();
            return false;
        }
        out->packets.emplace_back(buffer.begin(), buffer.begin() + bytes);
        out->flags.push_back(flags);
    }
    c->End();
    return true;
}

// Stores the packets as the first stream of an AVI file, one per position.
bool WriteAvi(const std::string& path, const BitmapInfoHeader& input, const Compressed& c, std::string* error)
{
    std::unique_ptr<platform::AviFile> file = platform::AviFile::Create(path, error);
    if (!file)
        return false;
    platform::AviStreamInfo info{};
    info.fccType = platform::kStreamTypeVideo;
    info.fccHandler = c.handler;
    info.dwScale = 1;
    info.dwRate = 15;
    info.dwSuggestedBufferSize = input.biSizeImage;
    info.dwQuality = 0xFFFFFFFFu;
    info.rcFrame = RectL{0, 0, input.biWidth, std::abs(input.biHeight)};
    std::strcpy(info.szName, "Video");
    platform::AviStream* stream = file->CreateStream(info);
    if (!stream || !stream->SetFormat(0, c.format.data(), c.format.size())) {
        *error = "stream: " + file->LastError();
        return false;
    }
    for (size_t i = 0; i < c.packets.size(); ++i)
        if (!stream->Write(int32_t(i), 1, c.packets[i].data(), c.packets[i].size(), c.flags[i])) {
            *error = "write: " + file->LastError();
            return false;
        }
    stream->Release();
    if (!file->Close()) {
        *error = "close: " + file->LastError();
        return false;
    }
    return true;
}

struct Decoded {
    std::vector<std::vector<uint8_t>> frames;
    int width = 0, height = 0;
    std::string codecName, codecTag, pixFmt;
    std::string error;
};

// ffmpeg's reading of the file: stream facts, then every frame as raw pixels.
Decoded Decode(const std::string& path, const std::string& pixFmt, int bytesPerPixel)
{
    Decoded d;
    const auto streams = testkit::ProbeStreams(path);
    if (streams.empty()) {
        d.error = "ffprobe finds no stream";
        return d;
    }
    const auto get = [&](const char* key) {
        auto it = streams[0].find(key);
        return it == streams[0].end() ? std::string() : it->second;
    };
    d.width = std::atoi(get("width").c_str());
    d.height = std::atoi(get("height").c_str());
    d.codecName = get("codec_name");
    d.codecTag = get("codec_tag_string");
    d.pixFmt = get("pix_fmt");
    int exitCode = -1;
    std::string standardError;
    const std::string raw = testkit::RunCapture({"ffmpeg", "-v", "error", "-nostdin", "-i", path, "-map", "0:v:0",
                                                 "-vsync", "passthrough", "-f", "rawvideo", "-pix_fmt", pixFmt, "-"},
                                                &exitCode, &standardError);
    // Decoders' remarks (H.261's "first frame is no keyframe") do not fail a decode;
    // the pixels are compared instead.
    if (exitCode != 0)
        d.error = "ffmpeg exit " + std::to_string(exitCode) + ": " + standardError;
    const size_t frameBytes = size_t(std::max(d.width, 0)) * size_t(std::max(d.height, 0)) * size_t(bytesPerPixel);
    for (size_t at = 0; frameBytes && at + frameBytes <= raw.size(); at += frameBytes)
        d.frames.emplace_back(raw.begin() + long(at), raw.begin() + long(at + frameBytes));
    return d;
}

// Whether the codec keeps the pixels of the format ffmpeg reports for the stream
// exactly: a lossless-only codec (libavcodec's properties) storing RGB.
bool KeepsRgbExactly(const Decoded& d)
{
    const AVCodecDescriptor* codec = avcodec_descriptor_get_by_name(d.codecName.c_str());
    const AVPixFmtDescriptor* format = av_pix_fmt_desc_get(av_get_pix_fmt(d.pixFmt.c_str()));
    if (!codec || !format)
        return false;
    const bool lossless = (codec->props & AV_CODEC_PROP_LOSSLESS) && !(codec->props & AV_CODEC_PROP_LOSSY);
    return lossless && (format->flags & AV_PIX_FMT_FLAG_RGB) && format->comp[0].depth >= 8 &&
           !(format->flags & AV_PIX_FMT_FLAG_PAL);
}

// The enumerated info of the encoder of that name; false when this machine has none.
bool FindEncoder(const std::string& name, CodecInfo* info)
{
    for (const CodecInfo& candidate : Enumerate(0))
        if (candidate.encoderName == name) {
            *info = candidate;
            return true;
        }
    return false;
}

// Opens the encoder and begins a stream of that input, as the video thread does; the
// handler code and output format go into *out.
void BeginCompressor(const CodecInfo& info, const BitmapInfoHeader& input, bool frameThreads,
                     std::unique_ptr<Compressor>* c, Compressed* out)
{
    *c = CodecManager::Open(info);
    ASSERT_TRUE(*c && (*c)->CanCompress(input));
    out->handler = (*c)->GetInfo().fccHandler;
    out->format.resize((*c)->GetFormatSize(input));
    ASSERT_TRUE((*c)->GetFormat(input, out->format.data(), uint32_t(out->format.size())));
    ASSERT_TRUE((*c)->Begin(input, out->format.data(), uint32_t(out->format.size()), frameThreads))
        << (*c)->LastError();
}

// A frame size the encoder takes: 1280x720 where it can, else one of the fixed picture
// sizes of the encoders that only take a few. 0x0 when none.
BitmapInfoHeader SizeItTakes(const CodecInfo& encoder)
{
    static const int sizes[][2] = {{1280, 720}, {720, 576}, {352, 288}, {176, 144}};
    std::unique_ptr<Compressor> c = CodecManager::Open(encoder);
    for (const auto& s : sizes) {
        const BitmapInfoHeader h = Frame(s[0], s[1]);
        if (c && c->CanCompress(h))
            return h;
    }
    return Frame(0, 0);
}

class CodecManagerTest : public ::testing::Test {
protected:
    testkit::TempDir dir_;
};

// ---- enumeration ----------------------------------------------------------------------

TEST_F(CodecManagerTest, EnumerationIsStableOneEntryPerEncoderAndOpensEach)
{
    const std::vector<CodecInfo> all = Enumerate(0);
    ASSERT_FALSE(all.empty()) << "no compressor admitted";
    const std::vector<CodecInfo> video = Enumerate(kCodecTypeVideo);
    const std::vector<CodecInfo> again = Enumerate(0);
    ASSERT_EQ(all.size(), video.size());
    ASSERT_EQ(all.size(), again.size());
    std::set<std::string> encoders;
    std::string listed;
    for (size_t i = 0; i < all.size(); ++i) {
        const CodecInfo& info = all[i];
        SCOPED_TRACE(info.encoderName);
        EXPECT_EQ(info.fccHandler, again[i].fccHandler);
        EXPECT_EQ(info.description, again[i].description);
        EXPECT_EQ(info.fccHandler, video[i].fccHandler);
        EXPECT_EQ(info.fccType, kCodecTypeVideo);
        EXPECT_NE(info.fccHandler, 0u);
        EXPECT_TRUE(encoders.insert(info.encoderName).second) << "listed twice";
        EXPECT_FALSE(info.description.empty());
        EXPECT_FALSE(info.encoderName.empty());
        // The description is the encoder's long name, as UTF-16.
        const AVCodec* encoder = avcodec_find_encoder_by_name(info.encoderName.c_str());
        ASSERT_NE(encoder, nullptr);
        if (encoder->long_name) {
            const char* name = encoder->long_name;
            EXPECT_EQ(info.description, std::u16string(name, name + std::strlen(name)));
        }

        std::unique_ptr<Compressor> c = CodecManager::Open(info);
        ASSERT_NE(c, nullptr);
        const CodecInfo got = c->GetInfo();
        EXPECT_EQ(got.fccType, info.fccType);
        EXPECT_EQ(got.fccHandler, info.fccHandler);
        EXPECT_EQ(got.description, info.description);
        EXPECT_EQ(got.encoderName, info.encoderName);
        EXPECT_LE(c->DefaultQuality(), 10000u);
        EXPECT_GT(c->DefaultQuality(), 0u);
        listed += info.encoderName + "=" + Text(info.fccHandler) + " ";
    }
    std::printf("admitted: %s\n", listed.c_str());
    // Encoders that write the same code as one listed before them are listed too.
    for (const char* name : {"libx264rgb", "libxvid", "h263"})
        if (avcodec_find_encoder_by_name(name)) {
            EXPECT_EQ(encoders.count(name), 1u) << name << " is not listed";
        }
}

TEST_F(CodecManagerTest, OtherTypesIndexesAndCodesFindNothing)
{
    CodecInfo info;
    EXPECT_FALSE(CodecManager::Info(TAVREC_FOURCC('v', 'i', 'd', 's'), 0, &info));
    EXPECT_FALSE(CodecManager::Info(0, -1, &info));
    EXPECT_FALSE(CodecManager::Info(0, int(Enumerate(0).size()), &info));
    EXPECT_FALSE(CodecManager::Info(0, 0, nullptr));
    EXPECT_EQ(CodecManager::Open(kCodecTypeVideo, TAVREC_FOURCC('N', 'O', 'N', 'E')), nullptr);
    EXPECT_EQ(CodecManager::Open(kCodecTypeVideo, 0), nullptr);
    ASSERT_TRUE(CodecManager::Info(0, 0, &info));
    EXPECT_EQ(CodecManager::Open(TAVREC_FOURCC('a', 'u', 'd', 'c'), info.fccHandler), nullptr);
}

// ---- queries --------------------------------------------------------------------------

TEST_F(CodecManagerTest, FormatsNoEncoderCanTakeAreRefusedWithAReason)
{
    BitmapInfoHeader bitfields = Frame(64, 64);
    bitfields.biCompression = 3;  // BI_BITFIELDS: the masks are not in the header
    const std::vector<std::pair<const char*, BitmapInfoHeader>> bad = {
        {"0x0", Frame(0, 0)},
        {"negative width", Frame(-64, 64)},
        {"zero height", Frame(64, 0)},
        {"absurdly large", Frame(70000, 70000)},
        {"8-bit palette", Frame(64, 64, 8)},
        {"12 bits", Frame(64, 64, 12)},
        {"bit fields", bitfields},
    };
    for (const CodecInfo& info : Enumerate(0)) {
        SCOPED_TRACE(info.encoderName);
        std::unique_ptr<Compressor> c = CodecManager::Open(info);
        ASSERT_NE(c, nullptr);
        for (const auto& [what, format] : bad) {
            SCOPED_TRACE(what);
            EXPECT_FALSE(c->CanCompress(format));
            EXPECT_FALSE(c->LastError().empty());
            EXPECT_EQ(c->GetFormatSize(format), 0u);
            std::vector<uint8_t> out(4096);
            EXPECT_FALSE(c->GetFormat(format, out.data(), uint32_t(out.size())));
            EXPECT_FALSE(c->Begin(format, out.data(), uint32_t(out.size())));
        }
        // Refusals leave nothing behind: a good format still works after them.
        const BitmapInfoHeader good = SizeItTakes(info);
        EXPECT_GT(good.biWidth, 0) << "takes none of the usual sizes";
    }
}

// An odd size is either refused (encoders that need even sizes) or really compressed:
// ffmpeg decodes it at that very size.
TEST_F(CodecManagerTest, OddSizesAreRefusedOrDecodeAtThatSize)
{
    const int width = 321, height = 241;
    const BitmapInfoHeader input = Frame(width, height);
    const std::vector<Picture> pictures = {MovingPattern(width, height, 0), MovingPattern(width, height, 1)};
    std::string refused, taken;
    for (const CodecInfo& info : Enumerate(0)) {
        SCOPED_TRACE(info.encoderName);
        std::unique_ptr<Compressor> c = CodecManager::Open(info);
        if (!c->CanCompress(input)) {
            EXPECT_FALSE(c->LastError().empty());
            refused += info.encoderName + " ";
            continue;
        }
        taken += info.encoderName + " ";
        Compressed out;
        ASSERT_TRUE(CompressAll(info, input, pictures, {0, 1}, &out)) << out.error;
        const std::string path = dir_.File("odd-" + info.encoderName + ".avi");
        std::string error;
        ASSERT_TRUE(WriteAvi(path, input, out, &error)) << error;
        const Decoded d = Decode(path, "bgr0", 4);
        EXPECT_EQ(d.error, "");
        EXPECT_EQ(d.width, width);
        EXPECT_EQ(d.height, height);
        EXPECT_EQ(d.frames.size(), 2u);
    }
    std::printf("321x241 refused by: %s\n321x241 taken by: %s\n", refused.c_str(), taken.c_str());
    EXPECT_FALSE(refused.empty()) << "no encoder refused an odd size";
}

TEST_F(CodecManagerTest, OutputFormatDescribesTheStreamAndItsHandler)
{
    for (const CodecInfo& info : Enumerate(0)) {
        SCOPED_TRACE(info.encoderName);
        const BitmapInfoHeader input = SizeItTakes(info);
        ASSERT_GT(input.biWidth, 0);
        for (int32_t height : {input.biHeight, -input.biHeight}) {
            BitmapInfoHeader in = input;
            in.biHeight = height;
            std::unique_ptr<Compressor> c = CodecManager::Open(info);
            ASSERT_TRUE(c->CanCompress(in)) << c->LastError();
            const uint32_t handler = c->GetInfo().fccHandler;
            const uint32_t size = c->GetFormatSize(in);
            ASSERT_GE(size, 40u);
            std::vector<uint8_t> format(size + 16, 0xCD);
            EXPECT_FALSE(c->GetFormat(in, format.data(), size - 1));
            ASSERT_TRUE(c->GetFormat(in, format.data(), size)) << c->LastError();
            EXPECT_EQ(format[size], 0xCD) << "wrote past the size it gave";
            BitmapInfoHeader out;
            std::memcpy(&out, format.data(), sizeof out);
            EXPECT_EQ(out.biSize, 40u);
            EXPECT_EQ(out.biWidth, in.biWidth);
            EXPECT_EQ(out.biHeight, height);
            EXPECT_EQ(out.biPlanes, 1);
            EXPECT_GT(out.biBitCount, 0);
            EXPECT_EQ(out.biCompression, handler);
            EXPECT_NE(handler, 0u);
            EXPECT_GE(out.biSizeImage, input.biSizeImage) << "a packet bound below the raw frame size";
            // The size query and the format agree when asked again.
            EXPECT_EQ(c->GetFormatSize(in), size);
            EXPECT_EQ(c->GetInfo().fccHandler, handler);
        }
    }
}

TEST_F(CodecManagerTest, CompressingNeedsBeginAndRoomAndTheFormatOfItsInput)
{
    for (const CodecInfo& info : Enumerate(0)) {
        SCOPED_TRACE(info.encoderName);
        const BitmapInfoHeader input = SizeItTakes(info);
        std::unique_ptr<Compressor> c = CodecManager::Open(info);
        const Picture picture = MovingPattern(input.biWidth, input.biHeight, 0);
        std::vector<uint8_t> out(size_t(input.biSizeImage) * 3);
        uint32_t bytes = 0, flags = 0;
        EXPECT_FALSE(c->Compress(picture.pixels.data(), picture.stride, 0, c->DefaultQuality(), out.data(),
                                 uint32_t(out.size()), &bytes, &flags));
        EXPECT_FALSE(c->LastError().empty());

        std::vector<uint8_t> format(c->GetFormatSize(input));
        ASSERT_TRUE(c->GetFormat(input, format.data(), uint32_t(format.size())));
        // An output format made for another frame size is refused.
        const BitmapInfoHeader other = Frame(input.biWidth / 2, input.biHeight / 2);
        EXPECT_FALSE(c->Begin(other, format.data(), uint32_t(format.size())));
        ASSERT_TRUE(c->Begin(input, format.data(), uint32_t(format.size()))) << c->LastError();
        // A buffer too small for the packet fails with a reason rather than overrunning.
        std::vector<uint8_t> tiny(8);
        EXPECT_FALSE(c->Compress(picture.pixels.data(), picture.stride, 0, c->DefaultQuality(), tiny.data(),
                                 uint32_t(tiny.size()), &bytes, &flags));
        EXPECT_NE(c->LastError().find("byte"), std::string::npos) << c->LastError();
        c->End();
        EXPECT_FALSE(c->Compress(picture.pixels.data(), picture.stride, 1, c->DefaultQuality(), out.data(),
                                 uint32_t(out.size()), &bytes, &flags));
        // Begin again after End: compressing works afresh.
        ASSERT_TRUE(c->CanCompress(input));
        ASSERT_TRUE(c->Begin(input, format.data(), uint32_t(format.size()))) << c->LastError();
        EXPECT_TRUE(c->Compress(picture.pixels.data(), picture.stride, 0, c->DefaultQuality(), out.data(),
                                uint32_t(out.size()), &bytes, &flags))
            << c->LastError();
        EXPECT_EQ(flags, TAVREC_AVIIF_KEYFRAME) << "the first frame after Begin is not a key frame";
        c->End();
    }
}

// ---- what a player makes of the stream --------------------------------------------------

// Every admitted encoder: five moving 32-bit frames (1280x720, or a fixed size the
// encoder takes), stored in an AVI file, read back by ffmpeg.
TEST_F(CodecManagerTest, EveryEncoderRoundTripsThroughAnAviFileRightSideUp)
{
    const int kFrames = 5;
    const std::vector<uint32_t> slots = {0, 0, 1, 3, 4};  // slot 0 twice, slot 2 dropped
    std::string exact, approximate;
    for (const CodecInfo& info : Enumerate(0)) {
        SCOPED_TRACE(info.encoderName);
        const BitmapInfoHeader input = SizeItTakes(info);
        ASSERT_GT(input.biWidth, 0);
        std::vector<Picture> pictures;
        for (int n = 0; n < kFrames; ++n)
            pictures.push_back(MovingPattern(input.biWidth, input.biHeight, n));
        Compressed out;
        ASSERT_TRUE(CompressAll(info, input, pictures, slots, &out)) << out.error;
        EXPECT_EQ(out.flags[0], TAVREC_AVIIF_KEYFRAME);
        for (uint32_t f : out.flags)
            EXPECT_TRUE(f == 0 || f == TAVREC_AVIIF_KEYFRAME) << f;

        const std::string path = dir_.File(info.encoderName + ".avi");
        std::string error;
        ASSERT_TRUE(WriteAvi(path, input, out, &error)) << error;

        // The key flags reach the file's index as the compressor gave them.
        testsupport::RiffReader riff;
        ASSERT_TRUE(riff.Open(path)) << riff.LastError();
        ASSERT_EQ(riff.Idx1().size(), size_t(kFrames));
        for (int i = 0; i < kFrames; ++i)
            EXPECT_EQ(riff.Idx1()[size_t(i)].flags & TAVREC_AVIIF_KEYFRAME, out.flags[size_t(i)]) << "frame " << i;

        const Decoded d = Decode(path, "bgr0", 4);
        EXPECT_EQ(d.error, "");
        EXPECT_EQ(d.codecTag, Text(out.handler));
        ASSERT_EQ(d.width, input.biWidth);
        ASSERT_EQ(d.height, input.biHeight);
        ASSERT_EQ(d.frames.size(), size_t(kFrames));

        const bool lossless = KeepsRgbExactly(d);
        (lossless ? exact : approximate) += info.encoderName + "(" + d.pixFmt + ") ";
        for (int n = 0; n < kFrames; ++n) {
            SCOPED_TRACE("frame " + std::to_string(n));
            const std::vector<uint8_t> expected = Tight(pictures[size_t(n)], 4);
            const std::vector<uint8_t>& got = d.frames[size_t(n)];
            const double error = MeanError(got, expected);
            if (lossless) {
                EXPECT_EQ(error, 0.0) << "a lossless encoder changed pixels";
                continue;
            }
            EXPECT_LT(error, 16.0) << "far from the input";
            // Row 0 is the top: the picture turned upside down is much further off.
            EXPECT_LT(error * 3, MeanError(got, Tight(pictures[size_t(n)], 4, true)));
            // The frame is this frame, not the one before (no frame delay).
            if (n > 0) {
                EXPECT_LT(error, MeanError(got, Tight(pictures[size_t(n - 1)], 4)));
            }
        }
    }
    std::printf("exact: %s\napproximate: %s\n", exact.c_str(), approximate.c_str());
}

// Begun with frame threads, the encoders that have them give their packets late but in
// order, each named by its frame, the ones still held after Drain; every encoder else
// still gives each packet at once. The packets, stored at their frames' positions, decode
// to the pictures sent.
TEST_F(CodecManagerTest, FrameThreadedEncodersGiveEveryPacketInOrderByDrain)
{
    const std::vector<uint32_t> slots = {0, 1, 3, 4, 5, 8, 9, 10};  // slots 2, 6 and 7 dropped
    for (const char* name : {"utvideo", "huffyuv", "ffvhuff", "mpeg4"}) {
        SCOPED_TRACE(name);
        CodecInfo info;
        if (!FindEncoder(name, &info))
            continue;
        const BitmapInfoHeader input = SizeItTakes(info);
        std::unique_ptr<Compressor> c;
        Compressed out;
        ASSERT_NO_FATAL_FAILURE(BeginCompressor(info, input, true, &c, &out));
        std::vector<Picture> pictures;
        std::vector<uint32_t> numbers;
        size_t late = 0;  // sends not answered at once
        const auto take = [&] {
            Compressor::Packet packet;
            while (c->Receive(&packet)) {
                numbers.push_back(packet.frameNumber);
                out.packets.emplace_back(packet.data, packet.data + packet.size);
                out.flags.push_back(packet.flags);
            }
            EXPECT_EQ(c->LastError(), "");
        };
        for (size_t i = 0; i < slots.size(); ++i) {
            pictures.push_back(MovingPattern(input.biWidth, input.biHeight, int(i)));
            ASSERT_TRUE(c->Send(pictures.back().pixels.data(), pictures.back().stride, slots[i], c->DefaultQuality()))
                << c->LastError();
            const size_t before = numbers.size();
            take();
            late += numbers.size() == before;
            if (std::string(name) == "mpeg4") {
                EXPECT_EQ(numbers.size(), before + 1) << "an encoder without frame threads answers at once";
            }
        }
        ASSERT_TRUE(c->Drain()) << c->LastError();
        take();
        c->End();
        std::printf("%s: %zu of %zu frames answered late\n", name, late, slots.size());
        ASSERT_EQ(numbers, slots);
        EXPECT_EQ(out.flags[0], TAVREC_AVIIF_KEYFRAME);

        const std::string path = dir_.File(std::string(name) + "-threads.avi");
        std::string error;
        ASSERT_TRUE(WriteAvi(path, input, out, &error)) << error;
        const Decoded d = Decode(path, "bgr0", 4);
        EXPECT_EQ(d.error, "");
        ASSERT_EQ(d.frames.size(), slots.size());
        for (size_t n = 0; n < slots.size(); ++n) {
            const double e = MeanError(d.frames[n], Tight(pictures[n], 4));
            if (KeepsRgbExactly(d)) {
                EXPECT_EQ(e, 0.0) << "frame " << n;
            } else {
                EXPECT_LT(e, 16.0) << "frame " << n;
            }
        }
    }
}

// Frames lent to the encoder, as the frame writer lends its buffers: three buffers with
// padded rows, used in turn, each overwritten as soon as the encoder has let go of it.
// An encoder that read a buffer after letting go, or that took the rows' stride wrong,
// would store something else than the pictures sent.
TEST_F(CodecManagerTest, LentFramesStayTheCallersOnceLetGoAndEncodeAsSent)
{
    const int kFrames = 6;
    for (const char* name : {"ffv1", "libx264rgb", "ljpeg", "zmbv", "utvideo", "mpeg4"}) {
        CodecInfo info;
        if (!FindEncoder(name, &info))
            continue;
        SCOPED_TRACE(name);
        const BitmapInfoHeader input = SizeItTakes(info);
        std::unique_ptr<Compressor> c;
        Compressed out;
        ASSERT_NO_FATAL_FAILURE(BeginCompressor(info, input, false, &c, &out));

        const size_t row = size_t(input.biWidth) * 4, stride = row + 64;
        std::vector<std::vector<uint8_t>> buffers(3, std::vector<uint8_t>(stride * size_t(input.biHeight)));
        std::vector<Picture> pictures;
        for (int n = 0; n < kFrames; ++n) {
            pictures.push_back(MovingPattern(input.biWidth, input.biHeight, n));
            std::vector<uint8_t>& buffer = buffers[size_t(n) % buffers.size()];
            ASSERT_FALSE(c->Holds(buffer.data())) << "a buffer is still read two frames after it was sent";
            for (int y = 0; y < input.biHeight; ++y)
                std::memcpy(&buffer[size_t(y) * stride], &pictures.back().pixels[size_t(y) * pictures.back().stride],
                            row);
            ASSERT_TRUE(c->Send(buffer.data(), stride, uint32_t(n), c->DefaultQuality(), true)) << c->LastError();
            Compressor::Packet packet;
            while (c->Receive(&packet)) {
                out.packets.emplace_back(packet.data, packet.data + packet.size);
                out.flags.push_back(packet.flags);
            }
            ASSERT_EQ(c->LastError(), "");
            // Let go of: the caller's again, and it makes something else of it at once.
            for (std::vector<uint8_t>& other : buffers)
                if (!c->Holds(other.data()))
                    std::fill(other.begin(), other.end(), uint8_t(0xA5));
        }
        ASSERT_TRUE(c->Drain()) << c->LastError();
        Compressor::Packet packet;
        while (c->Receive(&packet)) {
            out.packets.emplace_back(packet.data, packet.data + packet.size);
            out.flags.push_back(packet.flags);
        }
        for (std::vector<uint8_t>& buffer : buffers)
            EXPECT_FALSE(c->Holds(buffer.data())) << "a buffer is still read after the stream was drained";
        c->End();

        const std::string path = dir_.File(std::string(name) + "-lent.avi");
        std::string error;
        ASSERT_TRUE(WriteAvi(path, input, out, &error)) << error;
        const Decoded d = Decode(path, "bgr0", 4);
        EXPECT_EQ(d.error, "");
        ASSERT_EQ(d.frames.size(), size_t(kFrames));
        for (size_t n = 0; n < size_t(kFrames); ++n) {
            const double e = MeanError(d.frames[n], Tight(pictures[n], 4));
            if (KeepsRgbExactly(d)) {
                EXPECT_EQ(e, 0.0) << "frame " << n;
            } else {
                EXPECT_LT(e, 16.0) << "frame " << n;
            }
        }
    }
}

// 24-bit and RGB555 frames through every encoder that keeps RGB exactly: ffmpeg's
// decoding equals the input (for RGB555: in the five bits each component has; the
// decoding is read as bgr0, since ffmpeg dithers when it makes RGB555 itself).
TEST_F(CodecManagerTest, TwentyFourAndSixteenBitFramesKeepTheirPixels)
{
    const int width = 320, height = 240;
    int checked = 0;
    for (const CodecInfo& info : Enumerate(0)) {
        SCOPED_TRACE(info.encoderName);
        for (int bits : {24, 16}) {
            SCOPED_TRACE(std::to_string(bits) + " bits");
            const BitmapInfoHeader input = Frame(width, height, bits);
            std::vector<Picture> pictures;
            for (int n = 0; n < 3; ++n)
                pictures.push_back(Repack(MovingPattern(width, height, n), bits));
            Compressed out;
            if (!CompressAll(info, input, pictures, {0, 1, 2}, &out)) {
                EXPECT_NE(out.error.find("refuses"), std::string::npos) << out.error;
                continue;
            }
            const std::string path = dir_.File(info.encoderName + std::to_string(bits) + ".avi");
            std::string error;
            ASSERT_TRUE(WriteAvi(path, input, out, &error)) << error;
            const Decoded d = Decode(path, bits == 24 ? "bgr24" : "bgr0", bits == 24 ? 3 : 4);
            EXPECT_EQ(d.error, "");
            ASSERT_EQ(d.frames.size(), 3u);
            if (!KeepsRgbExactly(d))
                continue;
            ++checked;
            for (int n = 0; n < 3; ++n) {
                const std::vector<uint8_t> expected = Tight(pictures[size_t(n)], bits / 8);
                std::vector<uint8_t> got = d.frames[size_t(n)];
                if (bits == 16) {
                    std::vector<uint8_t> packed;
                    for (size_t i = 0; i + 3 < got.size(); i += 4) {
                        const uint16_t v = uint16_t((got[i + 2] >> 3) << 10 | (got[i + 1] >> 3) << 5 | (got[i] >> 3));
                        packed.push_back(uint8_t(v));
                        packed.push_back(uint8_t(v >> 8));
                    }
                    got = packed;
                }
                EXPECT_TRUE(got == expected) << "frame " << n << " changed";
            }
        }
    }
    EXPECT_GT(checked, 0) << "no encoder keeps RGB exactly";
}

// ---- quality and key frames -------------------------------------------------------------

// Where the encoder has a quantiser, the quality passed with each frame drives it.
TEST_F(CodecManagerTest, LowerQualityGivesSmallerFramesWhereTheEncoderHasAQuantiser)
{
    const uint32_t handler = TAVREC_FOURCC('M', 'J', 'P', 'G');
    if (!CodecManager::Open(kCodecTypeVideo, handler))
        GTEST_SKIP() << "no MJPEG encoder here";
    const BitmapInfoHeader input = Frame(640, 480);
    Picture detailed = MovingPattern(640, 480, 2);
    uint32_t seed = 12345;  // fine noise, which the quantiser decides how much of to keep
    for (uint8_t& b : detailed.pixels) {
        seed = seed * 1103515245u + 12345u;
        b = uint8_t(b / 2 + ((seed >> 16) & 0x7F));
    }
    const std::vector<Picture> one = {detailed};
    Compressed best, worst, standard;
    ASSERT_TRUE(CompressAll(ByCode(handler), input, one, {0}, &best, 10000)) << best.error;
    ASSERT_TRUE(CompressAll(ByCode(handler), input, one, {0}, &worst, 500)) << worst.error;
    ASSERT_TRUE(CompressAll(ByCode(handler), input, one, {0}, &standard)) << standard.error;
    std::printf("MJPEG frame bytes: quality 10000 %zu, default %zu, 500 %zu\n", best.packets[0].size(),
                standard.packets[0].size(), worst.packets[0].size());
    EXPECT_LT(worst.packets[0].size() * 2, best.packets[0].size());
    EXPECT_LT(standard.packets[0].size(), best.packets[0].size());
    EXPECT_GT(standard.packets[0].size(), worst.packets[0].size());
}

// Inter-frame encoders start with a key frame, then give predicted frames up to the
// key-frame interval, where the next key frame comes.
TEST_F(CodecManagerTest, InterFrameEncodersPlaceKeyFramesAtTheInterval)
{
    const int frames = platform::kKeyFrameInterval + 2;
    int checked = 0;
    for (uint32_t handler : {TAVREC_FOURCC('F', 'M', 'P', '4'), TAVREC_FOURCC('H', '2', '6', '4')}) {
        if (!CodecManager::Open(kCodecTypeVideo, handler))
            continue;
        SCOPED_TRACE(Text(handler));
        const BitmapInfoHeader input = Frame(160, 128);
        std::vector<Picture> pictures;
        std::vector<uint32_t> slots;
        const Picture base = MovingPattern(160, 128, 0);
        for (int n = 0; n < frames; ++n) {
            Picture p = base;  // a small change per frame: no scene cuts
            p.pixels[size_t(n % 100) * 4] ^= 0xFF;
            pictures.push_back(p);
            slots.push_back(uint32_t(n));
        }
        Compressed out;
        ASSERT_TRUE(CompressAll(ByCode(handler), input, pictures, slots, &out)) << out.error;
        std::vector<int> keys;
        for (int n = 0; n < frames; ++n)
            if (out.flags[size_t(n)] == TAVREC_AVIIF_KEYFRAME)
                keys.push_back(n);
        EXPECT_EQ(keys, (std::vector<int>{0, platform::kKeyFrameInterval}));
        ++checked;
    }
    if (checked == 0)
        GTEST_SKIP() << "neither MPEG-4 nor H.264 here";
}

}  // namespace
