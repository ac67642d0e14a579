// links: tavrec_platform_avi tavrec_support_RiffReader tavrec_support_MediaProbe
//
// The AVI writer, checked twice for every file: structurally with our RIFF reader,
// and by what ffprobe and ffmpeg (run as child processes) make of it.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/avi/AviFile.h"
#include "tests/support/MediaProbe.h"
#include "tests/support/RiffReader.h"

extern char** environ;

namespace {

using platform::AviFile;
using platform::AviStream;
using platform::AviStreamInfo;
using testsupport::Fourcc;
using testsupport::RiffReader;

// ---- helpers: temp folder, child processes, ffprobe/ffmpeg --------------------------

// The shared temp folder, with the check these tests make that it exists.
struct TempDir : testkit::TempDir {
    bool Ok() const { return !Path().empty(); }
    std::string File(const std::string& name) const { return testkit::TempDir::File(name); }
};

struct RunResult {
    int status = -1;  // exit code, or -1 when it did not exit normally
    std::string out;  // stdout
    std::string err;  // stderr
};

// Runs argv (looked up in PATH, no shell) and collects both outputs.
RunResult RunTool(const std::vector<std::string>& args)
{
    RunResult result;
    result.out = testkit::RunCapture(args, &result.status, &result.err);
    return result;
}

// ffprobe's "flat" output as key -> value (quotes removed).
std::map<std::string, std::string> Probe(const std::string& file, const std::vector<std::string>& extra = {},
                                         bool quiet = true)
{
    std::vector<std::string> args = {"ffprobe", "-v", "error", "-show_streams", "-show_format"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.insert(args.end(), {"-of", "flat", file});
    const RunResult r = RunTool(args);
    EXPECT_EQ(r.status, 0) << r.err;
    if (quiet) {
        EXPECT_EQ(r.err, "") << "ffprobe complained about " << file;
    }
    std::map<std::string, std::string> values;
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        std::string value = line.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        values[line.substr(0, eq)] = value;
    }
    return values;
}

std::string StreamKey(int stream, const std::string& field)
{
    return "streams.stream." + std::to_string(stream) + "." + field;
}

// ffprobe's count of the packets of one stream ("v:0", "a:0").
long CountPackets(const std::string& file, const std::string& stream)
{
    const RunResult r = RunTool({"ffprobe", "-v", "error", "-select_streams", stream, "-count_packets", "-show_entries",
                             "stream=nb_read_packets", "-of", "default=nokey=1:noprint_wrappers=1", file});
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out.empty() ? -1 : std::strtol(r.out.c_str(), nullptr, 10);
}

struct DecodedFrame {
    long pts = 0;
    long size = 0;
    std::string md5;
};

// Frames as ffmpeg decodes them, with their timestamps (in stream time base units).
std::vector<DecodedFrame> FrameMd5(const std::string& file, const std::string& map,
                                   const std::vector<std::string>& input = {})
{
    std::vector<std::string> args = {"ffmpeg", "-nostdin", "-v", "error"};
    args.insert(args.end(), input.begin(), input.end());
    args.insert(args.end(), {"-i", file, "-map", map, "-fps_mode", "passthrough", "-f", "framemd5", "-"});
    const RunResult r = RunTool(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "") << "ffmpeg complained about " << file;
    std::vector<DecodedFrame> frames;
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        long stream, dts, pts, duration, size;
        char md5[64] = {};
        if (std::sscanf(line.c_str(), "%ld, %ld, %ld, %ld, %ld, %63s", &stream, &dts, &pts, &duration, &size, md5) == 6)
            frames.push_back({pts, size, md5});
    }
    return frames;
}

// A stream decoded to raw bytes: video as top-down BGRA, audio as its own PCM.
std::string Decode(const std::string& file, const std::string& map, const std::vector<std::string>& outputFormat,
                   bool quiet = true)
{
    std::vector<std::string> args = {"ffmpeg", "-nostdin", "-v", "error", "-i", file, "-map", map,
                                     "-fps_mode", "passthrough"};
    args.insert(args.end(), outputFormat.begin(), outputFormat.end());
    args.push_back("-");
    const RunResult r = RunTool(args);
    EXPECT_EQ(r.status, 0) << r.err;
    if (quiet) {
        EXPECT_EQ(r.err, "") << "ffmpeg complained about " << file;
    }
    return r.out;
}

const std::vector<std::string> kRawBgra = {"-f", "rawvideo", "-pix_fmt", "bgra"};

// ---- helpers: stream descriptions and content ----------------------------------------

constexpr int kWidth = 64, kHeight = 48;
constexpr size_t kFrameBytes = size_t(kWidth) * kHeight * 4;

AviStreamInfo VideoInfo(uint32_t fps, int width = kWidth, int height = kHeight, uint32_t handler = 0)
{
    AviStreamInfo info{};
    info.fccType = platform::kStreamTypeVideo;
    info.fccHandler = handler;
    info.dwScale = 1;
    info.dwRate = fps;
    info.dwSuggestedBufferSize = uint32_t(width) * uint32_t(height) * 4;
    info.dwQuality = 0xFFFFFFFFu;
    info.rcFrame = {0, 0, width, height};
    std::strcpy(info.szName, "Video");
    return info;
}

BitmapInfoHeader FrameFormat(int width = kWidth, int height = kHeight)
{
    BitmapInfoHeader bih{};
    bih.biSize = sizeof bih;
    bih.biWidth = width;
    bih.biHeight = height;
    bih.biPlanes = 1;
    bih.biBitCount = 32;
    bih.biCompression = TAVREC_BI_RGB;
    bih.biSizeImage = uint32_t(width) * uint32_t(height) * 4;
    return bih;
}

WaveFormatEx Pcm(uint16_t channels, uint32_t rate, uint16_t bits)
{
    WaveFormatEx w{};
    w.wFormatTag = 1;
    w.nChannels = channels;
    w.nSamplesPerSec = rate;
    w.nBlockAlign = uint16_t(channels * bits / 8);
    w.nAvgBytesPerSec = rate * w.nBlockAlign;
    w.wBitsPerSample = bits;
    return w;
}

AviStreamInfo AudioInfo(const WaveFormatEx& w, uint32_t initialFrames = 0)
{
    AviStreamInfo info{};
    info.fccType = platform::kStreamTypeAudio;
    info.dwScale = w.nBlockAlign;
    info.dwRate = w.nAvgBytesPerSec;
    info.dwSampleSize = w.nBlockAlign;
    info.dwInitialFrames = initialFrames;
    info.dwQuality = 0xFFFFFFFFu;
    return info;
}

// A bottom-up BGRA frame whose every pixel depends on the position, opaque.
std::vector<uint8_t> MakeFrame(int position, int width = kWidth, int height = kHeight)
{
    std::vector<uint8_t> f(size_t(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &f[(size_t(y) * width + x) * 4];
            p[0] = uint8_t(x * 4 + position);
            p[1] = uint8_t(y * 5 + position * 3);
            p[2] = uint8_t(position * 7 + x + y);
            p[3] = 0xFF;
        }
    return f;
}

// The same frame as a decoder shows it: rows top-down.
std::string TopDown(const std::vector<uint8_t>& frame, int width = kWidth, int height = kHeight)
{
    std::string out;
    const size_t row = size_t(width) * 4;
    for (int y = height - 1; y >= 0; --y)
        out.append(reinterpret_cast<const char*>(&frame[size_t(y) * row]), row);
    return out;
}

std::vector<uint8_t> MakeAudio(size_t bytes, int seed)
{
    std::vector<uint8_t> a(bytes);
    for (size_t i = 0; i < bytes; ++i)
        a[i] = uint8_t((i * 7 + size_t(seed) * 13 + i / 5) | 1);  // never silence
    return a;
}

void PutU16(std::vector<uint8_t>& v, uint32_t x)
{
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}
void PutU32(std::vector<uint8_t>& v, uint32_t x)
{
    PutU16(v, x & 0xFFFF);
    PutU16(v, x >> 16);
}

// The 56 strh bytes the file must carry for info, packed here field by field.
std::vector<uint8_t> ExpectedStrh(const AviStreamInfo& i, uint32_t length, uint32_t suggestedBufferSize)
{
    std::vector<uint8_t> v;
    PutU32(v, i.fccType);
    PutU32(v, i.fccHandler);
    PutU32(v, i.dwFlags);
    PutU16(v, i.wPriority);
    PutU16(v, i.wLanguage);
    PutU32(v, i.dwInitialFrames);
    PutU32(v, i.dwScale);
    PutU32(v, i.dwRate);
    PutU32(v, i.dwStart);
    PutU32(v, length);
    PutU32(v, suggestedBufferSize);
    PutU32(v, i.dwQuality);
    PutU32(v, i.dwSampleSize);
    PutU16(v, uint16_t(i.rcFrame.left));
    PutU16(v, uint16_t(i.rcFrame.top));
    PutU16(v, uint16_t(i.rcFrame.right));
    PutU16(v, uint16_t(i.rcFrame.bottom));
    return v;
}

template <typename T>
std::vector<uint8_t> Bytes(const T& value)
{
    const auto* p = reinterpret_cast<const uint8_t*>(&value);
    return std::vector<uint8_t>(p, p + sizeof value);
}

// ---- the index check every file goes through ------------------------------------------

// Every data chunk of every stream is in exactly one standard index that the stream's
// super index points at, with the same offset, size and chunk id, in file order; the
// super index durations add up to the stream length; idx1 lists the first part's chunks
// in order, with offsets from 'movi'. A file still being written (complete = false)
// may lack idx1 while its first part is open.
void ExpectConsistentIndexes(const RiffReader& r, bool complete = true)
{
    ASSERT_TRUE(r.HasOdml());
    for (size_t s = 0; s < r.Streams().size(); ++s) {
        SCOPED_TRACE("stream " + std::to_string(s));
        const auto& stream = r.Streams()[s];
        ASSERT_TRUE(stream.hasSuperIndex);
        const auto chunks = r.ChunksOf(int(s));
        size_t next = 0;
        uint64_t duration = 0;
        for (size_t e = 0; e < stream.superIndex.entries.size(); ++e) {
            const auto& ix = stream.superIndex.targets[e];
            EXPECT_EQ(ix.chunk.id & 0xFFFF, Fourcc("ix00") & 0xFFFF);
            EXPECT_EQ(char(ix.chunk.id >> 16), char('0' + s / 10));
            EXPECT_EQ(char(ix.chunk.id >> 24), char('0' + s % 10));
            EXPECT_EQ(ix.chunkId, stream.superIndex.chunkId);
            uint64_t ixDuration = 0;
            for (size_t i = 0; i < ix.entries.size(); ++i, ++next) {
                ASSERT_LT(next, chunks.size()) << "index lists more chunks than the file has";
                EXPECT_EQ(ix.ChunkOffset(i), chunks[next].offset) << "chunk " << next;
                EXPECT_EQ(ix.entries[i].Size(), chunks[next].size) << "chunk " << next;
                EXPECT_EQ(ix.chunkId, chunks[next].id);
                ixDuration += stream.header.sampleSize ? ix.entries[i].Size() / stream.header.sampleSize : 1;
            }
            EXPECT_EQ(stream.superIndex.entries[e].duration, ixDuration);
            duration += ixDuration;
        }
        EXPECT_EQ(next, chunks.size()) << "chunks missing from the index";
        EXPECT_EQ(duration, stream.header.length);
    }
    if (complete || r.Parts().size() > 1) {
        ASSERT_TRUE(r.HasIdx1());
    }
    if (!r.HasIdx1())
        return;
    const auto& part0 = r.Parts()[0];
    ASSERT_EQ(r.Idx1().size(), part0.chunkCount);
    for (size_t i = 0; i < part0.chunkCount; ++i) {
        const auto& c = r.Chunks()[part0.firstChunk + i];
        const auto& e = r.Idx1()[i];
        EXPECT_EQ(e.id, c.id) << "idx1 entry " << i;
        EXPECT_EQ(part0.movi.offset + 8 + e.offset, c.offset) << "idx1 entry " << i;
        EXPECT_EQ(e.size, c.size) << "idx1 entry " << i;
    }
}

// For a file whose writer was stopped at an arbitrary moment: every index entry names
// a chunk that is really there, with that id and size, in increasing file order.
void ExpectValidIndexEntries(const RiffReader& r)
{
    for (size_t s = 0; s < r.Streams().size(); ++s) {
        uint64_t last = 0;
        for (const auto& ix : r.Streams()[s].superIndex.targets)
            for (size_t i = 0; i < ix.entries.size(); ++i) {
                std::vector<uint8_t> header;
                ASSERT_TRUE(r.ReadBytes(ix.ChunkOffset(i), 8, &header)) << "stream " << s << " entry past the end";
                uint32_t id, size;
                std::memcpy(&id, header.data(), 4);
                std::memcpy(&size, header.data() + 4, 4);
                EXPECT_EQ(id, ix.chunkId);
                EXPECT_EQ(size, ix.entries[i].Size());
                EXPECT_GT(ix.ChunkOffset(i), last);
                last = ix.ChunkOffset(i);
            }
    }
}

// Key flag of each data chunk of a stream, from the standard indexes and from idx1.
std::vector<bool> KeyFlags(const RiffReader& r, int stream)
{
    std::vector<bool> keys;
    for (const auto& ix : r.Streams()[size_t(stream)].superIndex.targets)
        for (const auto& e : ix.entries)
            keys.push_back(e.KeyFrame());
    return keys;
}

// ---- tests ------------------------------------------------------------------------------

// One uncompressed video stream with dropped frames and one PCM stream: headers byte
// for byte, chunk layout, indexes, and what ffprobe/ffmpeg read back.
TEST(AviFile, VideoAndAudioWithDroppedFrames)
{
    TempDir dir;
    ASSERT_TRUE(dir.Ok());
    const std::string path = dir.File("rec.avi");
    {
        std::ofstream old(path);
        old << "an older file of the same name";
    }
    const WaveFormatEx wave = Pcm(2, 22050, 16);
    const AviStreamInfo videoInfo = VideoInfo(10);
    const AviStreamInfo audioInfo = AudioInfo(wave, 7);
    const BitmapInfoHeader bih = FrameFormat();
    const std::vector<int> positions = {0, 1, 2, 5, 6, 9};
    const size_t halfSecond = 11025 * 4;
    std::vector<std::vector<uint8_t>> audio = {MakeAudio(halfSecond, 1), MakeAudio(halfSecond, 2)};

    std::string error;
    auto file = AviFile::Create(path, &error);
    ASSERT_TRUE(file) << error;
    AviStream* video = file->CreateStream(videoInfo);
    AviStream* sound = file->CreateStream(audioInfo);
    ASSERT_TRUE(video && sound) << file->LastError();
    ASSERT_TRUE(video->SetFormat(0, &bih, sizeof bih)) << file->LastError();
    ASSERT_TRUE(sound->SetFormat(0, &wave, sizeof wave)) << file->LastError();
    auto writeFrame = [&](int p) {
        const auto f = MakeFrame(p);
        ASSERT_TRUE(video->Write(p, 1, f.data(), f.size(), TAVREC_AVIIF_KEYFRAME)) << file->LastError();
    };
    writeFrame(0);
    ASSERT_TRUE(sound->Write(0, 11025, audio[0].data(), audio[0].size(), 0)) << file->LastError();
    writeFrame(1);
    writeFrame(2);
    writeFrame(5);
    ASSERT_TRUE(sound->Write(11025, 11025, audio[1].data(), audio[1].size(), 0)) << file->LastError();
    writeFrame(6);
    writeFrame(9);
    video->Release();
    sound->Release();
    ASSERT_TRUE(file->Close()) << file->LastError();
    file.reset();

    RiffReader r;
    ASSERT_TRUE(r.Open(path)) << r.LastError();
    EXPECT_EQ(r.PartsEnd(), r.FileSize());
    ASSERT_EQ(r.Parts().size(), 1u);
    EXPECT_EQ(r.Parts()[0].riff.listType, Fourcc("AVI "));

    // avih
    const auto& m = r.MainHeader();
    EXPECT_EQ(m.raw.size(), 56u);
    EXPECT_EQ(m.microSecPerFrame, 100000u);
    EXPECT_EQ(m.maxBytesPerSec, 10 * kFrameBytes + 88200);
    EXPECT_EQ(m.paddingGranularity, 0u);
    EXPECT_EQ(m.flags, 0x10u | 0x100u);  // AVIF_HASINDEX | AVIF_ISINTERLEAVED
    EXPECT_EQ(m.totalFrames, 10u);
    EXPECT_EQ(m.initialFrames, 0u);
    EXPECT_EQ(m.streams, 2u);
    EXPECT_EQ(m.suggestedBufferSize, halfSecond);
    EXPECT_EQ(m.width, uint32_t(kWidth));
    EXPECT_EQ(m.height, uint32_t(kHeight));
    for (uint32_t reserved : m.reserved)
        EXPECT_EQ(reserved, 0u);
    EXPECT_EQ(r.OdmlTotalFrames(), 10u);
    EXPECT_EQ(r.DmlhRaw().size(), 248u);

    // strl: order, strh byte for byte, strf as set, strn only for the named stream
    ASSERT_EQ(r.Streams().size(), 2u);
    const auto& v = r.Streams()[0];
    const auto& a = r.Streams()[1];
    EXPECT_EQ(v.header.raw, ExpectedStrh(videoInfo, 10, uint32_t(kFrameBytes)));
    EXPECT_EQ(a.header.raw, ExpectedStrh(audioInfo, 22050, uint32_t(halfSecond)));
    EXPECT_EQ(v.format, Bytes(bih));
    EXPECT_EQ(a.format, Bytes(wave));
    EXPECT_TRUE(v.hasName);
    EXPECT_EQ(v.name, "Video");
    EXPECT_EQ(v.nameRaw, (std::vector<uint8_t>{'V', 'i', 'd', 'e', 'o', 0}));
    EXPECT_FALSE(a.hasName);
    std::vector<uint32_t> order;
    for (const auto& c : v.children)
        order.push_back(c.id);
    EXPECT_EQ(order, (std::vector<uint32_t>{Fourcc("strh"), Fourcc("strf"), Fourcc("strn"), Fourcc("indx")}));
    EXPECT_EQ(v.superIndex.chunkId, Fourcc("00db"));
    EXPECT_EQ(a.superIndex.chunkId, Fourcc("01wb"));
    EXPECT_GE(v.superIndex.capacity, 256u);

    // movi: chunks in write order, an empty one for each skipped position
    std::vector<std::pair<uint32_t, uint32_t>> chunks;
    for (const auto& c : r.Chunks())
        chunks.push_back({c.id, c.size});
    const uint32_t db = Fourcc("00db"), wb = Fourcc("01wb"), fb = uint32_t(kFrameBytes), hs = uint32_t(halfSecond);
    const std::vector<std::pair<uint32_t, uint32_t>> expected = {
        {db, fb}, {wb, hs}, {db, fb}, {db, fb}, {db, 0}, {db, 0}, {db, fb},
        {wb, hs}, {db, fb}, {db, 0},  {db, 0},  {db, fb}};
    EXPECT_EQ(chunks, expected);
    for (size_t i = 0, frame = 0; i < r.Chunks().size(); ++i) {
        if (r.Chunks()[i].id != db || r.Chunks()[i].size == 0)
            continue;
        std::vector<uint8_t> data;
        ASSERT_TRUE(r.ReadData(r.Chunks()[i], &data));
        EXPECT_EQ(data, MakeFrame(positions[frame++])) << "chunk " << i;
    }
    ExpectConsistentIndexes(r);
    EXPECT_EQ(KeyFlags(r, 0), (std::vector<bool>{true, true, true, false, false, true, true, false, false, true}));
    EXPECT_EQ(KeyFlags(r, 1), (std::vector<bool>{true, true}));
    std::vector<uint32_t> idx1Flags;
    for (const auto& e : r.Idx1())
        idx1Flags.push_back(e.flags);
    EXPECT_EQ(idx1Flags, (std::vector<uint32_t>{0x10, 0x10, 0x10, 0x10, 0, 0, 0x10, 0x10, 0x10, 0, 0, 0x10}));

    // ffprobe
    auto p = Probe(path);
    EXPECT_EQ(p["format.format_name"], "avi");
    EXPECT_EQ(p["format.nb_streams"], "2");
    EXPECT_EQ(p[StreamKey(0, "codec_type")], "video");
    EXPECT_EQ(p[StreamKey(0, "codec_name")], "rawvideo");
    EXPECT_EQ(p[StreamKey(0, "width")], "64");
    EXPECT_EQ(p[StreamKey(0, "height")], "48");
    EXPECT_EQ(p[StreamKey(0, "r_frame_rate")], "10/1");
    EXPECT_EQ(p[StreamKey(0, "nb_frames")], "10");
    EXPECT_EQ(p[StreamKey(0, "tags.title")], "Video");
    EXPECT_EQ(p[StreamKey(1, "codec_type")], "audio");
    EXPECT_EQ(p[StreamKey(1, "codec_name")], "pcm_s16le");
    EXPECT_EQ(p[StreamKey(1, "sample_rate")], "22050");
    EXPECT_EQ(p[StreamKey(1, "channels")], "2");
    EXPECT_EQ(p.count(StreamKey(1, "tags.title")), 0u);

    // ffmpeg: the written frames, at their positions, with their pixels
    const auto frames = FrameMd5(path, "0:v:0");
    ASSERT_EQ(frames.size(), positions.size());
    for (size_t i = 0; i < frames.size(); ++i)
        EXPECT_EQ(frames[i].pts, positions[i]) << "frame " << i;
    std::string pixels;
    for (int pos : positions)
        pixels += TopDown(MakeFrame(pos));
    EXPECT_TRUE(Decode(path, "0:v:0", kRawBgra) == pixels) << "decoded pixels differ";
    std::string sound0(audio[0].begin(), audio[0].end());
    std::string sound1(audio[1].begin(), audio[1].end());
    EXPECT_TRUE(Decode(path, "0:a:0", {"-f", "s16le"}) == sound0 + sound1) << "decoded sound differs";
}

// Compressed frames: '00dc' chunks, a 40 + N byte format kept whole (odd N, so the
// pad byte matters), and key flags as given in both indexes. The frames are real
// MJPEG made by ffmpeg (which treats every MJPEG frame as a key frame itself).
TEST(AviFile, CompressedFramesKeepFormatAndKeyFlags)
{
    TempDir dir;
    ASSERT_TRUE(dir.Ok());
    const RunResult made = RunTool({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                                "testsrc=size=64x48:rate=10", "-frames:v", "4", "-c:v", "mjpeg", "-pix_fmt",
                                "yuvj420p", "-f", "image2", dir.File("f%d.jpg")});
    ASSERT_EQ(made.status, 0) << made.err;
    std::vector<std::vector<uint8_t>> jpegs;
    for (int i = 1; i <= 4; ++i) {
        std::ifstream in(dir.File("f" + std::to_string(i) + ".jpg"), std::ios::binary);
        jpegs.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        ASSERT_GT(jpegs.back().size(), 100u);
    }
    const uint32_t mjpg = Fourcc("MJPG");
    BitmapInfoHeader bih = FrameFormat();
    bih.biBitCount = 24;
    bih.biCompression = mjpg;
    std::vector<uint8_t> format = Bytes(bih);
    for (char c : std::string("tavrec!"))
        format.push_back(uint8_t(c));
    ASSERT_EQ(format.size(), 47u);

    const std::string path = dir.File("mjpeg.avi");
    const AviStreamInfo info = VideoInfo(10, kWidth, kHeight, mjpg);
    auto file = AviFile::Create(path);
    ASSERT_TRUE(file);
    AviStream* video = file->CreateStream(info);
    ASSERT_TRUE(video);
    ASSERT_TRUE(video->SetFormat(0, format.data(), format.size())) << file->LastError();
    const uint32_t flags[] = {TAVREC_AVIIF_KEYFRAME, 0, TAVREC_AVIIF_KEYFRAME, 0};
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(video->Write(i, 1, jpegs[size_t(i)].data(), jpegs[size_t(i)].size(), flags[i]))
            << file->LastError();
    ASSERT_TRUE(file->Close()) << file->LastError();

    RiffReader r;
    ASSERT_TRUE(r.Open(path)) << r.LastError();
    const auto& v = r.Streams().at(0);
    EXPECT_EQ(v.format, format);
    uint32_t largest = 0;
    for (const auto& j : jpegs)
        largest = std::max<uint32_t>(largest, uint32_t(j.size()));
    // The caller's guess (64 x 48 x 4) stands unless a chunk is larger.
    EXPECT_EQ(v.header.raw, ExpectedStrh(info, 4, std::max<uint32_t>(uint32_t(kFrameBytes), largest)));
    ASSERT_EQ(r.Chunks().size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(r.Chunks()[i].id, Fourcc("00dc"));
        std::vector<uint8_t> data;
        ASSERT_TRUE(r.ReadData(r.Chunks()[i], &data));
        EXPECT_EQ(data, jpegs[i]);
    }
    ExpectConsistentIndexes(r);
    EXPECT_EQ(KeyFlags(r, 0), (std::vector<bool>{true, false, true, false}));
    std::vector<uint32_t> idx1Flags;
    for (const auto& e : r.Idx1())
        idx1Flags.push_back(e.flags);
    EXPECT_EQ(idx1Flags, (std::vector<uint32_t>{0x10, 0, 0x10, 0}));

    auto p = Probe(path);
    EXPECT_EQ(p[StreamKey(0, "codec_name")], "mjpeg");
    EXPECT_EQ(p[StreamKey(0, "codec_tag_string")], "MJPG");
    EXPECT_EQ(p[StreamKey(0, "extradata_size")], "7");
    // ffmpeg decodes the same pictures from the file as from the JPEG files.
    const auto fromAvi = FrameMd5(path, "0:v:0");
    const auto fromJpegs = FrameMd5(dir.File("f%d.jpg"), "0:v:0");
    ASSERT_EQ(fromAvi.size(), 4u);
    ASSERT_EQ(fromJpegs.size(), 4u);
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(fromAvi[i].md5, fromJpegs[i].md5) << "frame " << i;
}

// Skipped audio positions are filled with silence (0 for 16-bit, 0x80 for unsigned
// 8-bit PCM), so later sound stays at its time; an audio-only file is complete too.
TEST(AviFile, SkippedAudioBecomesSilence)
{
    TempDir dir;
    ASSERT_TRUE(dir.Ok());
    const std::string path = dir.File("audio.avi");
    const WaveFormatEx s16 = Pcm(2, 8000, 16), u8 = Pcm(1, 8000, 8);
    auto file = AviFile::Create(path);
    ASSERT_TRUE(file);
    AviStream* a = file->CreateStream(AudioInfo(s16));
    AviStream* b = file->CreateStream(AudioInfo(u8));
    ASSERT_TRUE(a && b);
    ASSERT_TRUE(a->SetFormat(0, &s16, sizeof s16));
    ASSERT_TRUE(b->SetFormat(0, &u8, sizeof u8));
    const auto a0 = MakeAudio(800 * 4, 1), a1 = MakeAudio(800 * 4, 2);
    const auto b0 = MakeAudio(800, 3), b1 = MakeAudio(800, 4);
    ASSERT_TRUE(a->Write(0, 800, a0.data(), a0.size(), 0));
    ASSERT_TRUE(b->Write(0, 800, b0.data(), b0.size(), 0));
    ASSERT_TRUE(a->Write(2400, 800, a1.data(), a1.size(), 0)) << file->LastError();
    ASSERT_TRUE(b->Write(1600, 800, b1.data(), b1.size(), 0)) << file->LastError();
    ASSERT_TRUE(file->Close());

    RiffReader r;
    ASSERT_TRUE(r.Open(path)) << r.LastError();
    ExpectConsistentIndexes(r);
    EXPECT_EQ(r.Streams()[0].header.length, 3200u);
    EXPECT_EQ(r.Streams()[1].header.length, 2400u);
    EXPECT_EQ(r.MainHeader().microSecPerFrame, 0u);
    EXPECT_EQ(r.MainHeader().width, 0u);
    EXPECT_EQ(r.MainHeader().totalFrames, 3u);  // chunks of the first stream
    EXPECT_EQ(KeyFlags(r, 0), (std::vector<bool>{true, true, true}));

    std::string expectA(a0.begin(), a0.end());
    expectA += std::string(1600 * 4, '\0');
    expectA.append(a1.begin(), a1.end());
    std::string expectB(b0.begin(), b0.end());
    expectB += std::string(800, '\x80');
    expectB.append(b1.begin(), b1.end());
    EXPECT_TRUE(Decode(path, "0:a:0", {"-f", "s16le"}) == expectA);
    EXPECT_TRUE(Decode(path, "0:a:1", {"-f", "u8"}) == expectB);
}

// Positions are 64-bit: sound at 192 kHz passes 2^31 blocks within about three hours.
// The streams begin (dwStart) just short of 2^31 and of 2^32 blocks, so that writes on
// both sides of those bounds take no hours of sound. Readers honour a start of up to
// an hour, hence the high sample rate. Each bound is crossed after a gap, which becomes
// silence; ffprobe must see every packet at its position and ffmpeg decode it all.
TEST(AviFile, PositionsPastTwoToThe31And32)
{
    TempDir dir;
    ASSERT_TRUE(dir.Ok());
    const std::string path = dir.File("long audio.avi");
    const WaveFormatEx wave = Pcm(2, 1200000, 16);
    constexpr int64_t k31 = int64_t(1) << 31, k32 = int64_t(1) << 32;
    const int64_t bounds[] = {k31, k32};
    constexpr int64_t kBefore = 1000;  // where each stream begins, in blocks before its bound
    auto file = AviFile::Create(path);
    ASSERT_TRUE(file);
    AviStream* streams[2] = {};
    for (int n = 0; n < 2; ++n) {
        AviStreamInfo info = AudioInfo(wave);
        info.dwStart = uint32_t(bounds[n] - kBefore);
        streams[n] = file->CreateStream(info);
        ASSERT_TRUE(streams[n]);
        ASSERT_TRUE(streams[n]->SetFormat(0, &wave, sizeof wave));
    }

    // Per stream, relative to its bound: a write ending below it, one across it after
    // a gap, one well past it after another gap.
    struct Piece {
        int64_t position;
        int32_t blocks;
    };
    const Piece pieces[] = {{-kBefore, 900}, {-50, 100}, {400, 600}};
    std::string expected[2];
    for (int n = 0; n < 2; ++n) {
        int64_t end = -kBefore;
        for (size_t k = 0; k < std::size(pieces); ++k) {
            const auto data = MakeAudio(size_t(pieces[k].blocks) * 4, n * 10 + int(k));
            ASSERT_TRUE(streams[n]->Write(bounds[n] + pieces[k].position, pieces[k].blocks, data.data(), data.size(), 0))
                << "stream " << n << ", piece " << k << ": " << file->LastError();
            expected[n] += std::string(size_t(pieces[k].position - end) * 4, '\0');
            expected[n].append(data.begin(), data.end());
            end = pieces[k].position + pieces[k].blocks;
        }
    }
    // Behind the end is refused, and the reason names both positions in full; a gap no
    // file could hold is refused before anything is written.
    const auto one = MakeAudio(4, 9);
    EXPECT_FALSE(streams[1]->Write(k32 + 999, 1, one.data(), one.size(), 0));
    EXPECT_NE(file->LastError().find(std::to_string(k32 + 999)), std::string::npos) << file->LastError();
    EXPECT_NE(file->LastError().find(std::to_string(k32 + 1000)), std::string::npos) << file->LastError();
    EXPECT_FALSE(streams[0]->Write(INT64_MAX, 1, one.data(), one.size(), 0));
    EXPECT_NE(file->LastError().find("more than the file can hold"), std::string::npos) << file->LastError();
    ASSERT_TRUE(file->Close()) << file->LastError();

    RiffReader r;
    ASSERT_TRUE(r.Open(path)) << r.LastError();
    ExpectConsistentIndexes(r);
    for (int n = 0; n < 2; ++n) {
        EXPECT_EQ(r.Streams()[n].header.start, uint32_t(bounds[n] - kBefore));
        EXPECT_EQ(r.Streams()[n].header.length, uint32_t(kBefore + 1000));
    }

    // Packets as ffprobe reads them (time base: one block): data and silence in turn.
    const RunResult probe = RunTool({"ffprobe", "-v", "error", "-show_entries", "packet=stream_index,pts,duration",
                                     "-of", "csv=p=0", path});
    ASSERT_EQ(probe.status, 0) << probe.err;
    EXPECT_EQ(probe.err, "");
    std::map<int, std::vector<std::pair<int64_t, int64_t>>> packets;
    std::istringstream lines(probe.out);
    std::string line;
    while (std::getline(lines, line)) {
        int stream = -1;
        long long pts = 0, duration = 0;
        if (std::sscanf(line.c_str(), "%d,%lld,%lld", &stream, &pts, &duration) == 3)
            packets[stream].emplace_back(pts, duration);
    }
    for (int n = 0; n < 2; ++n) {
        SCOPED_TRACE("stream " + std::to_string(n));
        const int64_t b = bounds[n];
        const std::vector<std::pair<int64_t, int64_t>> want = {
            {b - 1000, 900}, {b - 100, 50}, {b - 50, 100}, {b + 50, 350}, {b + 400, 600}};
        EXPECT_EQ(packets[n], want);
        EXPECT_TRUE(Decode(path, "0:a:" + std::to_string(n), {"-f", "s16le"}) == expected[n]);
    }
}

// Wrong calls are refused with a reason and leave the file as it was.
TEST(AviFile, RefusesBadCallsAndKeepsTheFile)
{
    TempDir dir;
    ASSERT_TRUE(dir.Ok());
    std::string error;
    EXPECT_FALSE(AviFile::Create(dir.File("missing/x.avi"), &error));
    EXPECT_NE(error.find("missing/x.avi"), std::string::npos) << error;
    AviFile::Options zero;
    zero.partSize = 0;
    EXPECT_FALSE(AviFile::Create(dir.File("x.avi"), zero, &error));
    EXPECT_NE(error.find("partSize"), std::string::npos) << error;

    const std::string path = dir.File("refused.avi");
    auto file = AviFile::Create(path);
    ASSERT_TRUE(file);
    AviStreamInfo text = VideoInfo(10);
    text.fccType = Fourcc("txts");
    EXPECT_FALSE(file->CreateStream(text));
    EXPECT_NE(file->LastError().find("txts"), std::string::npos) << file->LastError();
    AviStreamInfo noRate = VideoInfo(0);
    EXPECT_FALSE(file->CreateStream(noRate));

    const WaveFormatEx wave = Pcm(1, 8000, 16);
    const BitmapInfoHeader bih = FrameFormat();
    AviStream* video = file->CreateStream(VideoInfo(10));
    AviStream* sound = file->CreateStream(AudioInfo(wave));
    ASSERT_TRUE(video && sound);
    EXPECT_FALSE(video->SetFormat(1, &bih, sizeof bih));
    EXPECT_FALSE(video->SetFormat(0, nullptr, 0));
    ASSERT_TRUE(video->SetFormat(0, &bih, sizeof bih));
    const auto f0 = MakeFrame(0), f1 = MakeFrame(1), f2 = MakeFrame(2);
    EXPECT_FALSE(video->Write(0, 1, f0.data(), f0.size(), TAVREC_AVIIF_KEYFRAME));  // sound has no format
    EXPECT_NE(file->LastError().find("no format"), std::string::npos) << file->LastError();
    ASSERT_TRUE(sound->SetFormat(0, &wave, sizeof wave));

    ASSERT_TRUE(video->Write(0, 1, f0.data(), f0.size(), TAVREC_AVIIF_KEYFRAME));
    ASSERT_TRUE(video->Write(1, 1, f1.data(), f1.size(), TAVREC_AVIIF_KEYFRAME));
    EXPECT_FALSE(video->Write(1, 1, f2.data(), f2.size(), TAVREC_AVIIF_KEYFRAME));
    EXPECT_NE(file->LastError().find("already written"), std::string::npos) << file->LastError();
    EXPECT_FALSE(video->Write(0, 1, f2.data(), f2.size(), TAVREC_AVIIF_KEYFRAME));
    EXPECT_FALSE(video->Write(-1, 1, f2.data(), f2.size(), TAVREC_AVIIF_KEYFRAME));
    EXPECT_FALSE(video->Write(2, 0, f2.data(), f2.size(), TAVREC_AVIIF_KEYFRAME));
    const auto pcm = MakeAudio(100, 1);
    EXPECT_FALSE(sound->Write(0, 51, pcm.data(), pcm.size(), 0));  // 100 bytes are 50 samples
    EXPECT_NE(file->LastError().find("samples"), std::string::npos) << file->LastError();
    ASSERT_TRUE(sound->Write(0, 50, pcm.data(), pcm.size(), 0));
    EXPECT_FALSE(sound->Write(49, 50, pcm.data(), pcm.size(), 0));
    EXPECT_FALSE(file->CreateStream(VideoInfo(10)));
    EXPECT_FALSE(video->SetFormat(0, &bih, sizeof bih));
    ASSERT_TRUE(video->Write(2, 1, f2.data(), f2.size(), TAVREC_AVIIF_KEYFRAME));
    video->Release();
    EXPECT_FALSE(video->Write(3, 1, f2.data(), f2.size(), TAVREC_AVIIF_KEYFRAME));
    EXPECT_NE(file->LastError().find("released"), std::string::npos) << file->LastError();
    ASSERT_TRUE(file->Close()) << file->LastError();
    EXPECT_TRUE(file->Close());
    EXPECT_FALSE(sound->Write(50, 50, pcm.data(), pcm.size(), 0));
    EXPECT_NE(file->LastError().find("closed"), std::string::npos) << file->LastError();
    file.reset();

    RiffReader r;
    ASSERT_TRUE(r.Open(path)) << r.LastError();
    ExpectConsistentIndexes(r);
    ASSERT_EQ(r.ChunksOf(0).size(), 3u);
    EXPECT_EQ(r.Streams()[0].header.length, 3u);
    EXPECT_EQ(r.Streams()[1].header.length, 50u);
    std::string pixels = TopDown(f0) + TopDown(f1) + TopDown(f2);
    EXPECT_TRUE(Decode(path, "0:v:0", kRawBgra) == pixels);
    EXPECT_EQ(CountPackets(path, "a:0"), 1);
}

// A file closed without any write (also by its destructor) is complete and empty.
TEST(AviFile, FileWithoutDataIsComplete)
{
    TempDir dir;
    ASSERT_TRUE(dir.Ok());
    const std::string path = dir.File("empty.avi");
    {
        auto file = AviFile::Create(path);
        ASSERT_TRUE(file);
        AviStream* video = file->CreateStream(VideoInfo(25));
        const BitmapInfoHeader bih = FrameFormat();
        ASSERT_TRUE(video->SetFormat(0, &bih, sizeof bih));
    }  // the destructor closes
    RiffReader r;
    ASSERT_TRUE(r.Open(path)) << r.LastError();
    ExpectConsistentIndexes(r);
    EXPECT_EQ(r.Chunks().size(), 0u);
    EXPECT_EQ(r.Streams().at(0).header.length, 0u);
    auto p = Probe(path);
    EXPECT_EQ(p[StreamKey(0, "codec_type")], "video");
    EXPECT_EQ(CountPackets(path, "v:0"), 0);
}

// Key frames as the compressor marks them reach ffmpeg: an MPEG-4 stream with delta
// frames, taken packet by packet out of an AVI that ffmpeg itself wrote, rewritten by
// us, reads back with the same packet flags and decodes to the same pictures.
TEST(AviFile, KeyFlagsReachTheReader)
{
    TempDir dir;
    ASSERT_TRUE(dir.Ok());
    const std::string reference = dir.File("ffmpeg.avi");
    const RunResult made = RunTool({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                                    "testsrc=size=64x48:rate=10", "-frames:v", "9", "-c:v", "mpeg4", "-g", "3",
                                    "-bf", "0", reference});
    ASSERT_EQ(made.status, 0) << made.err;
    RiffReader ref;
    ASSERT_TRUE(ref.Open(reference)) << ref.LastError();
    ASSERT_TRUE(ref.HasIdx1());
    const auto packets = ref.ChunksOf(0);
    ASSERT_EQ(packets.size(), 9u);
    ASSERT_EQ(ref.Idx1().size(), 9u);

    const std::string path = dir.File("ours.avi");
    const auto& refStream = ref.Streams()[0];
    AviStreamInfo info = VideoInfo(10, kWidth, kHeight, refStream.header.handler);
    auto file = AviFile::Create(path);
    ASSERT_TRUE(file);
    AviStream* video = file->CreateStream(info);
    ASSERT_TRUE(video && video->SetFormat(0, refStream.format.data(), refStream.format.size()));
    std::vector<bool> keys;
    for (size_t i = 0; i < packets.size(); ++i) {
        std::vector<uint8_t> data;
        ASSERT_TRUE(ref.ReadData(packets[i], &data));
        const uint32_t flags = ref.Idx1()[i].flags & TAVREC_AVIIF_KEYFRAME;
        keys.push_back(flags != 0);
        ASSERT_TRUE(video->Write(int32_t(i), 1, data.data(), data.size(), flags)) << file->LastError();
    }
    ASSERT_EQ(keys, (std::vector<bool>{true, false, false, true, false, false, true, false, false}));
    ASSERT_TRUE(file->Close());

    RiffReader r;
    ASSERT_TRUE(r.Open(path)) << r.LastError();
    ExpectConsistentIndexes(r);
    EXPECT_EQ(KeyFlags(r, 0), keys);
    auto flagsOf = [](const std::string& f) {
        return RunTool({"ffprobe", "-v", "error", "-show_entries", "packet=flags", "-of", "csv=p=0", f}).out;
    };
    EXPECT_EQ(flagsOf(path), "K_\n__\n__\nK_\n__\n__\nK_\n__\n__\n");
    EXPECT_EQ(flagsOf(path), flagsOf(reference));
    const auto ours = FrameMd5(path, "0:v:0"), theirs = FrameMd5(reference, "0:v:0");
    ASSERT_EQ(ours.size(), 9u);
    ASSERT_EQ(theirs.size(), 9u);
    for (size_t i = 0; i < 9; ++i)
        EXPECT_EQ(ours[i].md5, theirs[i].md5) << "frame " << i;
    // Seeking lands on the key frame before the target.
    const auto seek = FrameMd5(path, "0:v:0", {"-noaccurate_seek", "-ss", "0.5"});
    ASSERT_FALSE(seek.empty());
    EXPECT_EQ(seek[0].md5, theirs[3].md5);
}

// The video and the audio thread write at the same time, with a flush after nearly
// every write: every chunk arrives whole, in position order per stream.
TEST(AviFile, TwoThreadsWriteAtOnce)
{
    TempDir dir;
    ASSERT_TRUE(dir.Ok());
    const std::string path = dir.File("threads.avi");
    AviFile::Options options;
    options.flushIntervalMs = 20;
    options.partSize = 4 << 20;  // several parts, so part changes race with writes too
    auto file = AviFile::Create(path, options);
    ASSERT_TRUE(file);
    const WaveFormatEx wave = Pcm(1, 44100, 16);
    const BitmapInfoHeader bih = FrameFormat();
    AviStream* video = file->CreateStream(VideoInfo(100));
    AviStream* sound = file->CreateStream(AudioInfo(wave));
    ASSERT_TRUE(video->SetFormat(0, &bih, sizeof bih));
    ASSERT_TRUE(sound->SetFormat(0, &wave, sizeof wave));

    constexpr int kWrites = 3000;
    constexpr int kSamples = 441;
    std::vector<std::vector<uint8_t>> frames, sounds;
    for (int i = 0; i < kWrites; ++i) {
        frames.push_back(MakeFrame(i));
        sounds.push_back(MakeAudio(kSamples * 2, i));
    }
    std::atomic<int> ready{0};
    std::atomic<int> failures{0};
    auto run = [&](AviStream* stream, bool isVideo) {
        ready.fetch_add(1);
        while (ready.load() < 2) {
        }
        for (int i = 0; i < kWrites; ++i) {
            const auto& data = isVideo ? frames[size_t(i)] : sounds[size_t(i)];
            const bool ok = isVideo ? stream->Write(i, 1, data.data(), data.size(), TAVREC_AVIIF_KEYFRAME)
                                    : stream->Write(i * kSamples, kSamples, data.data(), data.size(), 0);
            if (!ok)
                failures.fetch_add(1);
        }
        stream->Release();
    };
    std::thread videoThread(run, video, true);
    std::thread audioThread(run, sound, false);
    videoThread.join();
    audioThread.join();
    EXPECT_EQ(failures.load(), 0) << file->LastError();
    ASSERT_TRUE(file->Close()) << file->LastError();

    RiffReader r;
    ASSERT_TRUE(r.Open(path)) << r.LastError();
    ExpectConsistentIndexes(r);
    EXPECT_GT(r.MoviIndexes().size(), 10u) << "flushes should have written index chunks";
    const auto v = r.ChunksOf(0), a = r.ChunksOf(1);
    ASSERT_EQ(v.size(), size_t(kWrites));
    ASSERT_EQ(a.size(), size_t(kWrites));
    std::string pixels, pcm;
    for (int i = 0; i < kWrites; ++i) {
        std::vector<uint8_t> data;
        ASSERT_TRUE(r.ReadData(v[size_t(i)], &data));
        EXPECT_EQ(data, frames[size_t(i)]) << "frame " << i;
        ASSERT_TRUE(r.ReadData(a[size_t(i)], &data));
        EXPECT_EQ(data, sounds[size_t(i)]) << "sound " << i;
        pixels += TopDown(frames[size_t(i)]);
        pcm.append(sounds[size_t(i)].begin(), sounds[size_t(i)].end());
    }
    EXPECT_TRUE(Decode(path, "0:v:0", kRawBgra) == pixels);
    EXPECT_TRUE(Decode(path, "0:a:0", {"-f", "s16le"}) == pcm);
}

// Writes one frame per position and a tenth of a second of 8 kHz sound per frame.
struct Recording {
    static constexpr int kFps = 10;
    static constexpr int kSamplesPerFrame = 800;
    static WaveFormatEx Wave() { return Pcm(1, 8000, 16); }
    AviStream* video = nullptr;
    AviStream* sound = nullptr;

    bool Begin(AviFile& file)
    {
        const WaveFormatEx wave = Wave();
        const BitmapInfoHeader bih = FrameFormat();
        video = file.CreateStream(VideoInfo(kFps));
        sound = file.CreateStream(AudioInfo(wave));
        return video && sound && video->SetFormat(0, &bih, sizeof bih) && sound->SetFormat(0, &wave, sizeof wave);
    }
    bool WriteFrame(int i) const
    {
        const auto f = MakeFrame(i);
        return video->Write(i, 1, f.data(), f.size(), TAVREC_AVIIF_KEYFRAME);
    }
    bool WriteSound(int i) const
    {
        const auto s = MakeAudio(kSamplesPerFrame * 2, i);
        return sound->Write(i * kSamplesPerFrame, kSamplesPerFrame, s.data(), s.size(), 0);
    }
    // What ffmpeg must decode from the first n frames and sounds.
    static std::string Pixels(int n)
    {
        std::string out;
        for (int i = 0; i < n; ++i)
            out += TopDown(MakeFrame(i));
        return out;
    }
    static std::string Sound(int n)
    {
        std::string out;
        for (int i = 0; i < n; ++i) {
            const auto s = MakeAudio(kSamplesPerFrame * 2, i);
            out.append(s.begin(), s.end());
        }
        return out;
    }
};

// A small partSize takes the file through many AVIX parts: each part within its size,
// idx1 in the first only, one super index entry per part, all frames readable.
TEST(AviFile, ManyPartsWithSmallPartSize)
{
    TempDir dir;
    ASSERT_TRUE(dir.Ok());
    const std::string path = dir.File("parts.avi");
    AviFile::Options options;
    options.partSize = 300000;
    auto file = AviFile::Create(path, options);
    ASSERT_TRUE(file);
    Recording rec;
    ASSERT_TRUE(rec.Begin(*file));
    constexpr int kFrames = 300;
    for (int i = 0; i < kFrames; ++i) {
        ASSERT_TRUE(rec.WriteFrame(i)) << file->LastError();
        ASSERT_TRUE(rec.WriteSound(i)) << file->LastError();
    }
    ASSERT_TRUE(file->Close()) << file->LastError();

    RiffReader r;
    ASSERT_TRUE(r.Open(path)) << r.LastError();
    EXPECT_EQ(r.PartsEnd(), r.FileSize());
    ExpectConsistentIndexes(r);
    const size_t parts = r.Parts().size();
    EXPECT_GE(parts, 12u);
    for (size_t i = 0; i < parts; ++i) {
        SCOPED_TRACE("part " + std::to_string(i));
        const auto& part = r.Parts()[i];
        EXPECT_EQ(part.riff.listType, i == 0 ? Fourcc("AVI ") : Fourcc("AVIX"));
        EXPECT_LE(part.riff.size + 8u, options.partSize);
        EXPECT_GT(part.chunkCount, 0u);
        for (const auto& child : part.children) {
            if (i > 0) {
                EXPECT_NE(child.id, Fourcc("idx1"));
            }
        }
    }
    EXPECT_EQ(r.Streams()[0].superIndex.entries.size(), parts);
    EXPECT_EQ(r.Streams()[1].superIndex.entries.size(), parts);
    size_t firstPartFrames = 0;
    for (size_t i = 0; i < r.Parts()[0].chunkCount; ++i)
        firstPartFrames += r.Chunks()[i].stream == 0;
    EXPECT_EQ(r.MainHeader().totalFrames, firstPartFrames);
    EXPECT_LT(firstPartFrames, size_t(kFrames));
    EXPECT_EQ(r.OdmlTotalFrames(), uint32_t(kFrames));
    EXPECT_EQ(r.Streams()[0].header.length, uint32_t(kFrames));
    EXPECT_EQ(r.Streams()[1].header.length, uint32_t(kFrames * Recording::kSamplesPerFrame));

    EXPECT_EQ(CountPackets(path, "v:0"), kFrames);
    EXPECT_EQ(CountPackets(path, "a:0"), kFrames);
    EXPECT_TRUE(Decode(path, "0:v:0", kRawBgra) == Recording::Pixels(kFrames));
    EXPECT_TRUE(Decode(path, "0:a:0", {"-f", "s16le"}) == Recording::Sound(kFrames));
    // Seeking goes through the index: the frame at 25 s is frame 250.
    const auto seek = FrameMd5(path, "0:v:0", {"-ss", "25"});
    ASSERT_FALSE(seek.empty());
    const auto all = FrameMd5(path, "0:v:0");
    ASSERT_EQ(all.size(), size_t(kFrames));
    EXPECT_EQ(seek[0].md5, all[250].md5);
}

// Many tiny odd-sized chunks, where the indexes weigh almost as much as the data: no
// part grows past partSize once its closing indexes are in, and pad bytes keep every
// chunk readable.
TEST(AviFile, PartsWithTinyChunksStayWithinPartSize)
{
    TempDir dir;
    ASSERT_TRUE(dir.Ok());
    const std::string path = dir.File("tiny.avi");
    AviFile::Options options;
    options.partSize = 20000;
    options.indexCapacity = 64;
    auto file = AviFile::Create(path, options);
    ASSERT_TRUE(file);
    const WaveFormatEx wave = Pcm(1, 8000, 8);
    AviStream* sound = file->CreateStream(AudioInfo(wave));
    ASSERT_TRUE(sound && sound->SetFormat(0, &wave, sizeof wave));
    constexpr int kChunks = 2000, kSamples = 33;
    std::string pcm;
    for (int i = 0; i < kChunks; ++i) {
        const auto data = MakeAudio(kSamples, i);
        ASSERT_TRUE(sound->Write(i * kSamples, kSamples, data.data(), data.size(), 0)) << file->LastError();
        pcm.append(data.begin(), data.end());
    }
    ASSERT_TRUE(file->Close()) << file->LastError();

    RiffReader r;
    ASSERT_TRUE(r.Open(path)) << r.LastError();
    ExpectConsistentIndexes(r);
    EXPECT_GE(r.Parts().size(), 4u);
    for (const auto& part : r.Parts())
        EXPECT_LE(part.riff.size + 8u, options.partSize) << "part at " << part.riff.offset;
    EXPECT_EQ(r.Chunks().size(), size_t(kChunks));
    EXPECT_TRUE(Decode(path, "0:a:0", {"-f", "u8"}) == pcm);
}

// A file being written is readable after every flush; the many small index chunks of
// a long part are folded into one, so the super index stays small.
TEST(AviFile, ReadableWhileWrittenAndIndexStaysSmall)
{
    TempDir dir;
    ASSERT_TRUE(dir.Ok());
    const std::string path = dir.File("live.avi");
    AviFile::Options options;
    options.flushIntervalMs = 0;  // after every write
    auto file = AviFile::Create(path, options);
    ASSERT_TRUE(file);
    Recording rec;
    ASSERT_TRUE(rec.Begin(*file));
    constexpr int kFrames = 200;
    for (int i = 0; i < kFrames; ++i) {
        ASSERT_TRUE(rec.WriteFrame(i)) << file->LastError();
        ASSERT_TRUE(rec.WriteSound(i)) << file->LastError();
        if (i == 0 || i == 40 || i == 150) {
            SCOPED_TRACE("after frame " + std::to_string(i));
            RiffReader r;
            ASSERT_TRUE(r.Open(path)) << r.LastError();
            EXPECT_EQ(r.PartsEnd(), r.FileSize());
            ExpectConsistentIndexes(r, false);
            EXPECT_LE(r.Streams()[0].superIndex.entries.size(), 33u);
            EXPECT_EQ(r.Streams()[0].header.length, uint32_t(i + 1));
            EXPECT_EQ(r.OdmlTotalFrames(), uint32_t(i + 1));
            EXPECT_EQ(CountPackets(path, "v:0"), i + 1);
            EXPECT_TRUE(Decode(path, "0:a:0", {"-f", "s16le"}) == Recording::Sound(i + 1));
        }
    }
    ASSERT_TRUE(file->Close()) << file->LastError();
    RiffReader r;
    ASSERT_TRUE(r.Open(path)) << r.LastError();
    ExpectConsistentIndexes(r);
    EXPECT_EQ(r.Streams()[0].superIndex.entries.size(), 1u);
    EXPECT_GT(r.MoviIndexes().size(), size_t(kFrames));  // the folded ones remain, unreferenced
    EXPECT_TRUE(Decode(path, "0:v:0", kRawBgra) == Recording::Pixels(kFrames));
}

// When the super index has no room for another part, writing stops with a reason and
// the file stays complete up to there.
TEST(AviFile, StopsWhenTheIndexIsFull)
{
    TempDir dir;
    ASSERT_TRUE(dir.Ok());
    const std::string path = dir.File("full.avi");
    AviFile::Options options;
    options.partSize = 100000;
    options.indexCapacity = 3;
    auto file = AviFile::Create(path, options);
    ASSERT_TRUE(file);
    Recording rec;
    ASSERT_TRUE(rec.Begin(*file));
    int written = 0;
    while (written < 1000 && rec.WriteFrame(written))
        ++written;
    ASSERT_LT(written, 1000);
    EXPECT_NE(file->LastError().find("index"), std::string::npos) << file->LastError();
    EXPECT_FALSE(rec.WriteFrame(written + 1));
    ASSERT_TRUE(file->Close()) << file->LastError();

    RiffReader r;
    ASSERT_TRUE(r.Open(path)) << r.LastError();
    ExpectConsistentIndexes(r);
    EXPECT_EQ(r.Parts().size(), 3u);
    EXPECT_EQ(r.Streams()[0].superIndex.capacity, 3u);
    EXPECT_EQ(CountPackets(path, "v:0"), written);
}

// Real size: past 1 GB (the first part ends, AVIX follows) and past 4 GB (64-bit
// offsets in the super index). Large frames of zeros, each marked with its number.
TEST(AviFile, GrowsPastFourGigabytes)
{
    TempDir dir;
    ASSERT_TRUE(dir.Ok());
    const std::string path = dir.File("big.avi");
    constexpr int kW = 1024, kH = 1024, kFrames = 1100;  // 4 MiB each, 4.3 GiB
    auto file = AviFile::Create(path);
    ASSERT_TRUE(file);
    const BitmapInfoHeader bih = FrameFormat(kW, kH);
    AviStream* video = file->CreateStream(VideoInfo(25, kW, kH));
    ASSERT_TRUE(video && video->SetFormat(0, &bih, sizeof bih));
    std::vector<uint8_t> frame(size_t(kW) * kH * 4, 0);
    for (int i = 0; i < kFrames; ++i) {
        std::memcpy(frame.data() + frame.size() / 2, &i, sizeof i);
        ASSERT_TRUE(video->Write(i, 1, frame.data(), frame.size(), TAVREC_AVIIF_KEYFRAME)) << file->LastError();
    }
    ASSERT_TRUE(file->Close()) << file->LastError();

    RiffReader r;
    ASSERT_TRUE(r.Open(path)) << r.LastError();
    EXPECT_GT(r.FileSize(), uint64_t(kFrames) * frame.size());
    EXPECT_EQ(r.PartsEnd(), r.FileSize());
    ExpectConsistentIndexes(r);
    EXPECT_GE(r.Parts().size(), 5u);
    for (const auto& part : r.Parts())
        EXPECT_LE(part.riff.size + 8u, 1000u * 1000 * 1000);
    EXPECT_GT(r.Streams()[0].superIndex.entries.back().offset, uint64_t(1) << 32);
    EXPECT_EQ(r.OdmlTotalFrames(), uint32_t(kFrames));
    EXPECT_EQ(r.MainHeader().totalFrames, r.Parts()[0].chunkCount);
    std::vector<uint8_t> data;
    ASSERT_TRUE(r.ReadBytes(r.Chunks().back().offset + 8 + frame.size() / 2, 4, &data));
    int last = -1;
    std::memcpy(&last, data.data(), 4);
    EXPECT_EQ(last, kFrames - 1);

    EXPECT_EQ(CountPackets(path, "v:0"), kFrames);
    // Seek to the last frame through the index and decode it.
    const RunResult seek = RunTool({"ffmpeg", "-nostdin", "-v", "error", "-ss", "43.96", "-i", path, "-frames:v", "1",
                                "-f", "rawvideo", "-pix_fmt", "bgra", "-"});
    ASSERT_EQ(seek.status, 0) << seek.err;
    ASSERT_EQ(seek.out.size(), frame.size());
    std::memcpy(frame.data() + frame.size() / 2, &last, sizeof last);
    EXPECT_TRUE(seek.out == TopDown(frame, kW, kH)) << "the last frame decodes differently";
}

// Reads one int from a pipe; false at its end.
bool ReadInt(int fd, int* value)
{
    size_t got = 0;
    while (got < sizeof *value) {
        const ssize_t n = ::read(fd, reinterpret_cast<char*>(value) + got, sizeof *value - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += size_t(n);
    }
    return true;
}

// A writer killed with SIGKILL at different moments (in the first part and in later
// AVIX parts) leaves a file that reads up to at least its last flush.
TEST(AviFile, SurvivesSigkillOfTheWriter)
{
    for (int killAfter : {3, 17, 60}) {
        SCOPED_TRACE("killed after " + std::to_string(killAfter) + " frames");
        TempDir dir;
        ASSERT_TRUE(dir.Ok());
        const std::string path = dir.File("killed.avi");
        int report[2];
        ASSERT_EQ(::pipe(report), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(report[0]);
            AviFile::Options options;
            options.partSize = 200000;
            options.flushIntervalMs = 100;  // one frame
            auto file = AviFile::Create(path, options);
            Recording rec;
            if (!file || !rec.Begin(*file))
                ::_exit(2);
            for (int i = 0;; ++i) {
                if (!rec.WriteFrame(i) || !rec.WriteSound(i))
                    ::_exit(3);
                const int done = i + 1;  // flushed: each write moves a stream by 100 ms
                if (::write(report[1], &done, sizeof done) != sizeof done)
                    ::_exit(4);
                ::usleep(2000);
            }
        }
        ::close(report[1]);
        int done = 0;
        while (done < killAfter && ReadInt(report[0], &done)) {
        }
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ::close(report[0]);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "writer ended early, status " << status;
        ASSERT_GE(done, killAfter);

        RiffReader r;
        ASSERT_TRUE(r.Open(path)) << r.LastError();
        ExpectValidIndexEntries(r);
        EXPECT_GE(r.ChunksOf(0).size(), size_t(done));
        EXPECT_GE(r.Streams()[0].header.length, uint32_t(done));
        EXPECT_GE(CountPackets(path, "v:0"), done);
        const std::string pixels = Decode(path, "0:v:0", kRawBgra, false);
        const std::string expected = Recording::Pixels(done);
        ASSERT_GE(pixels.size(), expected.size());
        EXPECT_TRUE(pixels.compare(0, expected.size(), expected) == 0) << "frames before the kill differ";
        const std::string pcm = Decode(path, "0:a:0", {"-f", "s16le"}, false);
        const std::string sound = Recording::Sound(done);
        ASSERT_GE(pcm.size(), sound.size());
        EXPECT_TRUE(pcm.compare(0, sound.size(), sound) == 0) << "sound before the kill differs";
    }
}

// Runs body in a child process whose files may not grow past limit bytes (SIGXFSZ
// ignored, so writes fail with EFBIG instead); the ints body returns come back.
std::vector<int> RunWithFileSizeLimit(rlim_t limit, size_t results, const std::function<std::vector<int>()>& body)
{
    int report[2];
    if (::pipe(report) != 0)
        return {};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(report[0]);
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit rl{limit, limit};
        if (::setrlimit(RLIMIT_FSIZE, &rl) != 0)
            ::_exit(2);
        std::vector<int> values = body();
        values.resize(results);
        const ssize_t n = ::write(report[1], values.data(), values.size() * sizeof(int));
        ::_exit(n == ssize_t(values.size() * sizeof(int)) ? 0 : 3);
    }
    ::close(report[1]);
    std::vector<int> values(results);
    bool complete = child > 0;
    for (int& v : values)
        complete = complete && ReadInt(report[0], &v);
    ::close(report[0]);
    int status = 0;
    if (child > 0)
        ::waitpid(child, &status, 0);
    EXPECT_TRUE(child > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer child, status " << status;
    return complete ? values : std::vector<int>{};
}

// RLIMIT_FSIZE stands in for a full disk: Write fails once the limit is reached,
// later writes are refused, Close completes the file within the limit, and ffmpeg
// reads at least the frames written before the last flush.
TEST(AviFile, WriteFailureAtFileSizeLimitLeavesReadableFile)
{
    struct Case {
        rlim_t limit;
        uint64_t partSize;
        uint32_t flushIntervalMs;
        int lostAtMost;  // frames after the last flush
    };
    for (const Case c : {Case{1000000, 300000, 0, 0}, Case{1000000, 300000, 1000, 10}, Case{400000, 1000000000, 0, 0},
                         Case{400000, 1000000000, 1000, 10}}) {
        SCOPED_TRACE("limit " + std::to_string(c.limit) + ", part size " + std::to_string(c.partSize) +
                     ", flush every " + std::to_string(c.flushIntervalMs) + " ms");
        TempDir dir;
        ASSERT_TRUE(dir.Ok());
        const std::string path = dir.File("limited.avi");
        const std::vector<int> results = RunWithFileSizeLimit(c.limit, 4, [&]() -> std::vector<int> {
            AviFile::Options options;
            options.partSize = c.partSize;
            options.flushIntervalMs = c.flushIntervalMs;
            auto file = AviFile::Create(path, options);
            Recording rec;
            if (!file || !rec.Begin(*file))
                return {};
            int frames = 0;
            while (frames < 100000 && rec.WriteFrame(frames) && rec.WriteSound(frames))
                ++frames;
            const bool tooLarge = file->LastError().find("File too large") != std::string::npos;
            const bool refusedAfter = !rec.WriteFrame(frames + 1);
            const bool closed = file->Close();
            return {frames, tooLarge, refusedAfter, closed};
        });
        ASSERT_EQ(results.size(), 4u);
        const int frames = results[0];
        EXPECT_TRUE(results[1]) << "the failed write should say the file is too large";
        EXPECT_TRUE(results[2]) << "writes after the failure should be refused";
        EXPECT_TRUE(results[3]) << "Close should complete the file";
        ASSERT_GT(frames, c.lostAtMost);
        const int kept = frames - c.lostAtMost;

        RiffReader r;
        ASSERT_TRUE(r.Open(path)) << r.LastError();
        EXPECT_LE(r.FileSize(), uint64_t(c.limit));
        EXPECT_EQ(r.PartsEnd(), r.FileSize()) << "nothing after the last part";
        ExpectConsistentIndexes(r);
        EXPECT_GE(r.ChunksOf(0).size(), size_t(kept));
        EXPECT_GE(CountPackets(path, "v:0"), kept);
        const std::string pixels = Decode(path, "0:v:0", kRawBgra);
        const std::string expected = Recording::Pixels(kept);
        ASSERT_GE(pixels.size(), expected.size());
        EXPECT_TRUE(pixels.compare(0, expected.size(), expected) == 0);
    }
}

// When the disk fills before any flush and the closing indexes need more room than the
// cut-off chunk leaves, the newest chunks give way: Close still completes the file and
// what remains is the start of what was written, intact.
TEST(AviFile, FullDiskMakesRoomForTheClosingIndex)
{
    TempDir dir;
    ASSERT_TRUE(dir.Ok());
    const std::string path = dir.File("room.avi");
    constexpr rlim_t kLimit = 100000;
    constexpr int kSamples = 33;
    const std::vector<int> results = RunWithFileSizeLimit(kLimit, 2, [&]() -> std::vector<int> {
        AviFile::Options options;
        options.flushIntervalMs = 3600 * 1000;  // no flush before the disk is full
        options.indexCapacity = 64;
        auto file = AviFile::Create(path, options);
        const WaveFormatEx wave = Pcm(1, 8000, 8);
        AviStream* sound = file ? file->CreateStream(AudioInfo(wave)) : nullptr;
        if (!sound || !sound->SetFormat(0, &wave, sizeof wave))
            return {};
        int chunks = 0;
        while (chunks < 100000) {
            const auto data = MakeAudio(kSamples, chunks);
            if (!sound->Write(chunks * kSamples, kSamples, data.data(), data.size(), 0))
                break;
            ++chunks;
        }
        return {chunks, file->Close()};
    });
    ASSERT_EQ(results.size(), 2u);
    EXPECT_TRUE(results[1]) << "Close should complete the file";

    RiffReader r;
    ASSERT_TRUE(r.Open(path)) << r.LastError();
    EXPECT_LE(r.FileSize(), uint64_t(kLimit));
    EXPECT_EQ(r.PartsEnd(), r.FileSize());
    ExpectConsistentIndexes(r);
    const size_t kept = r.Chunks().size();
    EXPECT_GT(kept, 1000u);
    EXPECT_LT(kept, size_t(results[0]));
    std::string pcm;
    for (size_t i = 0; i < kept; ++i) {
        const auto data = MakeAudio(kSamples, int(i));
        pcm.append(data.begin(), data.end());
    }
    EXPECT_TRUE(Decode(path, "0:a:0", {"-f", "u8"}) == pcm);
}

}  // namespace
