// links: tavrec_support_MediaProbe
// The encoding wizard's batch mode as the tests and scripts use it: a short AVI of
// the kind the recorder writes (uncompressed video, PCM sound) converted to MP4 and
// MKV, checked with ffprobe; a file that is no recording fails with no output left.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/MediaProbe.h"

namespace {

namespace fs = std::filesystem;

const std::string kRemuxer = TAVREC_BINARY_DIR "/bin/remuxer";

bool HasEncoder(const std::string& name)
{
    const std::string list = testkit::RunCapture({"ffmpeg", "-hide_banner", "-encoders"});
    return list.find(" " + name + " ") != std::string::npos;
}

// Two seconds of a test picture and a tone, stored as the recorder stores them.
void MakeRecording(const std::string& path)
{
    int code = -1;
    std::string errors;
    testkit::RunCapture({"ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                         "testsrc=size=321x241:rate=10", "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100",
                         "-t", "2", "-c:v", "rawvideo", "-pix_fmt", "bgr24", "-c:a", "pcm_s16le", path},
                        &code, &errors);
    ASSERT_EQ(code, 0) << errors;
}

TEST(RemuxerBatch, ConvertsARecordingToMp4AndMkv)
{
    ASSERT_TRUE(fs::exists(kRemuxer)) << "build the remuxer target first";
    testkit::TempDir dir;
    const std::string input = dir.File("my clip.avi");
    MakeRecording(input);
    const std::string videoCodec = HasEncoder("libx264") ? "h264" : "mpeg4";

    struct Case {
        const char* format;
        std::string output;
        const char* formatName;  // as ffprobe names the container
    };
    const Case cases[] = {
        {"mp4", dir.File("my clip.mp4"), "mov,mp4,m4a,3gp,3g2,mj2"},
        {"mkv", dir.File("other name.mkv"), "matroska,webm"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        std::vector<std::string> argv{kRemuxer, "--batch", "--format", c.format};
        if (c.format == std::string("mkv"))
            argv.insert(argv.end(), {"--output", c.output});
        argv.push_back(input);
        int code = -1;
        std::string errors;
        testkit::RunCapture(argv, &code, &errors);
        ASSERT_EQ(code, 0) << errors;
        ASSERT_TRUE(fs::exists(c.output));

        const std::string format = testkit::RunCapture(
            {"ffprobe", "-v", "error", "-show_entries", "format=format_name", "-of", "default=nw=1:nk=1", c.output});
        EXPECT_EQ(format.substr(0, format.find_last_not_of("\r\n") + 1), c.formatName);
        const auto streams = testkit::ProbeStreams(c.output);
        ASSERT_EQ(streams.size(), 2u);
        EXPECT_EQ(streams[0].at("codec_type"), "video");
        EXPECT_EQ(streams[0].at("codec_name"), videoCodec);
        // Odd sizes are padded to even ones for 4:2:0 video.
        EXPECT_EQ(streams[0].at("width"), "322");
        EXPECT_EQ(streams[0].at("height"), "242");
        EXPECT_EQ(streams[1].at("codec_type"), "audio");
        EXPECT_EQ(streams[1].at("codec_name"), "aac");
        EXPECT_NEAR(testkit::ProbeDuration(c.output), 2.0, 0.25);
    }
    // The recording itself is left as it was.
    EXPECT_EQ(testkit::ProbeStreams(input).size(), 2u);
}

TEST(RemuxerBatch, AFileThatIsNoRecordingFailsAndLeavesNoOutput)
{
    ASSERT_TRUE(fs::exists(kRemuxer)) << "build the remuxer target first";
    testkit::TempDir dir;
    const std::string input = dir.File("broken.avi");
    std::ofstream(input) << "RIFF but not really an AVI file";
    int code = -1;
    std::string errors;
    testkit::RunCapture({kRemuxer, "--batch", input}, &code, &errors);
    EXPECT_NE(code, 0);
    EXPECT_FALSE(errors.empty());
    for (const auto& entry : fs::directory_iterator(dir.Path()))
        EXPECT_EQ(entry.path().filename(), "broken.avi") << "left behind: " << entry.path();

    testkit::RunCapture({kRemuxer, "--batch", dir.File("missing.avi")}, &code, &errors);
    EXPECT_NE(code, 0);
}

}  // namespace
