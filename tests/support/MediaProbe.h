// Reading recordings back with tools nobody here wrote: ffprobe for stream facts and
// packets, ffmpeg for decoded pixels and sound.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace testkit {

// Runs argv[0] (searched in PATH) with its arguments; returns its standard output.
// *exitCode receives the exit status (-1 when it could not run or was killed).
std::string RunCapture(const std::vector<std::string>& argv, int* exitCode = nullptr,
                       std::string* standardError = nullptr);

// ffprobe's view of one stream: every key of -show_streams (e.g. "codec_type",
// "codec_tag_string", "width", "avg_frame_rate", "nb_frames", "TAG:title").
using StreamFacts = std::map<std::string, std::string>;
std::vector<StreamFacts> ProbeStreams(const std::string& path);
double ProbeDuration(const std::string& path);  // format duration in seconds, -1 when unknown

struct Packet {
    int64_t size = 0;
    double pts = 0;  // seconds
    bool key = false;
};
// Every packet of stream `index` (0: the first stream) in file order.
std::vector<Packet> ProbePackets(const std::string& path, int index);

// Decodes the first video stream to raw frames of width x height in pixel format
// pixFmt (e.g. "bgr0"), one entry per frame ffmpeg outputs (-vsync passthrough, so
// dropped positions do not produce frames). everyPosition: one frame per position of
// the stream at its frame rate (-vsync cfr), an empty position repeating the frame before.
std::vector<std::vector<uint8_t>> DecodeVideo(const std::string& path, const std::string& pixFmt,
                                              int width, int height, int bytesPerPixel,
                                              bool everyPosition = false);

// Decodes the first audio stream to interleaved signed 16-bit samples.
std::vector<int16_t> DecodeAudio(const std::string& path, int* channels = nullptr, int* rate = nullptr);

// A fresh folder under TMPDIR (or /tmp), removed with everything in it at destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

}  // namespace testkit
