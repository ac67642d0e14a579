// links: korvid_internal
// How the two streams are described, and how a compressor is found by its description.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/StreamSetup.h"

namespace {

using korvid::BuildStreamInfo;
using korvid::FindCodecByName;

TEST(StreamSetup, VideoHeaderFollowsTheFrameFormatAndRate)
{
    CaptureOptions options{};
    options.FramesPerSecond = 30;
    BitmapInfoHeader format{40, 640, 480, 1, 32, 0, 640 * 480 * 4, 0, 0, 0, 0};
    platform::AviStreamInfo info;
    std::memset(&info, 0xAB, sizeof info);
    ASSERT_EQ(BuildStreamInfo(platform::kStreamTypeVideo, &options, &format, &info), 1);
    EXPECT_EQ(info.fccType, platform::kStreamTypeVideo);
    EXPECT_EQ(info.fccHandler, 0u);
    EXPECT_EQ(info.dwScale, 1u);
    EXPECT_EQ(info.dwRate, 30u);
    EXPECT_EQ(info.dwSuggestedBufferSize, 640u * 480 * 4);
    EXPECT_EQ(info.dwQuality, 0xFFFFFFFFu);
    EXPECT_EQ(info.dwSampleSize, 0u);
    EXPECT_EQ(info.dwInitialFrames, 0u);
    EXPECT_EQ(info.rcFrame.left, 0);
    EXPECT_EQ(info.rcFrame.top, 0);
    EXPECT_EQ(info.rcFrame.right, 640);
    EXPECT_EQ(info.rcFrame.bottom, 480);
    EXPECT_STREQ(info.szName, "Video");
    for (size_t i = sizeof "Video"; i < sizeof info.szName; ++i)
        ASSERT_EQ(info.szName[i], 0) << "the rest of the header is cleared";
}

TEST(StreamSetup, AudioHeaderCountsBlocksAndStartsThreeQuartersOfASecondEarly)
{
    CaptureOptions options{};
    const WaveFormatEx stereo16{1, 2, 22050, 88200, 4, 16, 0};
    platform::AviStreamInfo info;
    for (const auto& [fps, initial] : {std::pair{15u, 11u}, {30u, 22u}, {4u, 3u}, {1u, 0u}}) {
        options.FramesPerSecond = fps;
        ASSERT_EQ(BuildStreamInfo(platform::kStreamTypeAudio, &options, &stereo16, &info), 1);
        EXPECT_EQ(info.dwInitialFrames, initial) << fps << " fps";
    }
    EXPECT_EQ(info.fccType, platform::kStreamTypeAudio);
    EXPECT_EQ(info.dwScale, 4u);
    EXPECT_EQ(info.dwSampleSize, 4u);
    EXPECT_EQ(info.dwRate, 88200u);
    EXPECT_EQ(info.dwQuality, 0xFFFFFFFFu);
    EXPECT_EQ(info.szName[0], 0) << "the audio stream has no name";
}

TEST(StreamSetup, RefusesMissingPointersAndUnknownKinds)
{
    CaptureOptions options{};
    BitmapInfoHeader format{};
    platform::AviStreamInfo info;
    EXPECT_EQ(BuildStreamInfo(platform::kStreamTypeVideo, nullptr, &format, &info), -1);
    EXPECT_EQ(BuildStreamInfo(platform::kStreamTypeVideo, &options, nullptr, &info), -1);
    EXPECT_EQ(BuildStreamInfo(platform::kStreamTypeVideo, &options, &format, nullptr), -1);
    EXPECT_EQ(BuildStreamInfo(TAVREC_FOURCC('t', 'x', 't', 's'), &options, &format, &info), -1);
}

TEST(StreamSetup, CompressorIsFoundByItsExactDescriptionOnly)
{
    BitmapInfoHeader format{40, 320, 240, 1, 32, 0, 320 * 240 * 4, 0, 0, 0, 0};
    auto found = FindCodecByName(reinterpret_cast<const uint16_t*>(u"MJPEG (Motion JPEG)"), &format);
    ASSERT_TRUE(found) << "this machine's libavcodec has an MJPEG encoder";
    EXPECT_EQ(found->GetInfo().fccHandler, TAVREC_FOURCC('M', 'J', 'P', 'G'));
    EXPECT_FALSE(FindCodecByName(reinterpret_cast<const uint16_t*>(u"mjpeg (motion jpeg)"), &format))
        << "case matters";
    EXPECT_FALSE(FindCodecByName(reinterpret_cast<const uint16_t*>(u"MJPEG (Motion JPEG) "), &format));
    EXPECT_FALSE(FindCodecByName(reinterpret_cast<const uint16_t*>(u"MJPEG"), &format)) << "no prefix match";
    EXPECT_FALSE(FindCodecByName(reinterpret_cast<const uint16_t*>(u"Uncompress"), &format));
    EXPECT_FALSE(FindCodecByName(nullptr, nullptr));
    // A compressor that refuses the frame format is passed over: H.261 takes only
    // 176x144 and 352x288 pictures.
    EXPECT_FALSE(FindCodecByName(reinterpret_cast<const uint16_t*>(u"H.261"), &format));
    BitmapInfoHeader cif{40, 352, 288, 1, 32, 0, 352 * 288 * 4, 0, 0, 0, 0};
    EXPECT_TRUE(FindCodecByName(reinterpret_cast<const uint16_t*>(u"H.261"), &cif));
}

TEST(StreamSetup, EncodersSharingACodeAreEachFoundByTheirOwnDescription)
{
    BitmapInfoHeader format{40, 320, 240, 1, 32, 0, 320 * 240 * 4, 0, 0, 0, 0};
    const auto x264rgb = FindCodecByName(
        reinterpret_cast<const uint16_t*>(u"libx264 H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10 RGB"), &format);
    ASSERT_TRUE(x264rgb) << "this machine's libavcodec has libx264rgb";
    EXPECT_EQ(x264rgb->GetInfo().encoderName, "libx264rgb");
    EXPECT_EQ(x264rgb->GetInfo().fccHandler, TAVREC_FOURCC('H', '2', '6', '4'));
    const auto xvid = FindCodecByName(reinterpret_cast<const uint16_t*>(u"libxvidcore MPEG-4 part 2"), &format);
    ASSERT_TRUE(xvid) << "this machine's libavcodec has libxvid";
    EXPECT_EQ(xvid->GetInfo().encoderName, "libxvid");

}

TEST(StreamSetup, LongDescriptionIsMatchedInItsStoredForm)
{
    // No installed encoder has a description above 63 units, so the comparison the
    // lookup uses is checked on its own: the name the codec list stores for a long
    // description is its first 63 units (62 when unit 63 would split a surrogate
    // pair), and that name, not the whole description, selects the compressor.
    const std::u16string longName = u"Codec " + std::u16string(70, u'x');
    CaptureOptions options{};
    std::copy_n(longName.begin(), 63, options.CodecName);
    EXPECT_TRUE(korvid::SameCodecDescription(options.CodecName, longName));
    options.CodecName[62] = u'y';
    EXPECT_FALSE(korvid::SameCodecDescription(options.CodecName, longName)) << "the kept units still count";
    std::copy_n(longName.begin(), 64, options.CodecName);
    EXPECT_FALSE(korvid::SameCodecDescription(options.CodecName, longName)) << "a 64-unit name is no stored form";

    // U+1F600 as units 62 and 63: the stored form ends before the pair.
    const std::u16string split = std::u16string(62, u'a') + u"\U0001F600" + u"tail";
    CaptureOptions cut{};
    std::copy_n(split.begin(), 62, cut.CodecName);
    EXPECT_TRUE(korvid::SameCodecDescription(cut.CodecName, split));
    std::copy_n(split.begin(), 63, cut.CodecName);
    EXPECT_FALSE(korvid::SameCodecDescription(cut.CodecName, split)) << "half a pair is never stored";

    const std::u16string exact(63, u'z');
    CaptureOptions full{};
    std::copy_n(exact.begin(), 63, full.CodecName);
    EXPECT_TRUE(korvid::SameCodecDescription(full.CodecName, exact));
    EXPECT_FALSE(korvid::SameCodecDescription(full.CodecName, exact.substr(0, 62)));
}

}  // namespace
