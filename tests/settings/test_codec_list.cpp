// links: tavrec_settings
// The codec list of the preferences over the real libavcodec: the screen format the
// compressors are asked about, which compressors are admitted for it, the answers
// kept between openings of the dialog, and the list over the session's screen.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <thread>

#include "settings/CodecList.h"

namespace {

using settings::BuildScreenFormat;
using settings::CodecAdmissionCache;
using settings::CodecList;
using settings::EnumerateCodecs;

// The list for a screen of that size and depth.
CodecList ListFor(int width, int height, int depth, CodecAdmissionCache& cache, std::stop_token stop = {}) {
    const auto format = BuildScreenFormat(width, height, depth);
    return EnumerateCodecs(format ? &*format : nullptr, cache, stop);
}

bool Contains(const CodecList& list, const std::u16string& name) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

TEST(ScreenFormat, HeaderFollowsSizeAndDepth) {
    const auto format16 = BuildScreenFormat(1024, 768, 16);
    ASSERT_TRUE(format16);
    EXPECT_EQ(format16->Size(), 40u);
    const BitmapInfoHeader& h = format16->Header();
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 1024);
    EXPECT_EQ(h.biHeight, 768);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 16);
    EXPECT_EQ(h.biCompression, TAVREC_BI_RGB);
    EXPECT_EQ(h.biSizeImage, 1572864u);
    EXPECT_EQ(h.biClrUsed, 0u);
    EXPECT_EQ(std::memcmp(format16->Data(), &h, 40), 0);

    const auto format8 = BuildScreenFormat(1024, 768, 8);
    ASSERT_TRUE(format8);
    ASSERT_EQ(format8->Size(), 1064u);
    EXPECT_EQ(format8->Header().biClrUsed, 256u);
    EXPECT_EQ(format8->Header().biSizeImage, 1024u * 768);
    const auto* table = static_cast<const uint8_t*>(format8->Data()) + 40;
    EXPECT_TRUE(std::all_of(table, table + 1024, [](uint8_t b) { return b == 0; })) << "the colour table stays zero";

    // Rows are padded to whole 32-bit words.
    EXPECT_EQ(BuildScreenFormat(1001, 10, 24)->Header().biSizeImage, 3004u * 10);
    EXPECT_EQ(BuildScreenFormat(1001, 10, 16)->Header().biSizeImage, 2004u * 10);

    for (int depth : {1, 2, 4}) EXPECT_FALSE(BuildScreenFormat(1024, 768, depth)) << depth << " bits";
    EXPECT_FALSE(BuildScreenFormat(0, 768, 32));
}

TEST(CodecList, AdmitsTheCompressorsThatTakeTheFormat) {
    CodecAdmissionCache cache;
    EXPECT_EQ(EnumerateCodecs(nullptr, cache), CodecList{u"Uncompress"});
    EXPECT_EQ(ListFor(1024, 768, 4, cache), CodecList{u"Uncompress"}) << "a 16-colour screen has no format";
    EXPECT_EQ(cache.QueryCount(), 0u);

    const auto qvga = BuildScreenFormat(320, 240, 32);
    const CodecList list = EnumerateCodecs(&*qvga, cache);
    ASSERT_GE(list.size(), 2u);
    EXPECT_EQ(list[0], u"Uncompress");
    EXPECT_TRUE(Contains(list, u"MJPEG (Motion JPEG)"));
    EXPECT_TRUE(Contains(list, u"libx264 H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10 RGB"));
    // H.261 takes only 176x144 and 352x288 pictures.
    EXPECT_FALSE(Contains(list, u"H.261"));
    EXPECT_TRUE(Contains(ListFor(352, 288, 32, cache), u"H.261"));
    for (const auto& name : list) EXPECT_LE(name.size(), settings::kCodecDescriptionMax);

    std::stop_source stop;
    stop.request_stop();
    EXPECT_EQ(ListFor(640, 480, 32, cache, stop.get_token()), CodecList{u"Uncompress"})
        << "a stopped enumeration asks no compressor";
}

TEST(CodecList, AnswersAreKeptPerSizeAndDepth) {
    CodecAdmissionCache cache;
    const auto format = BuildScreenFormat(320, 240, 32);
    CodecList first;
    // Filled on a worker, as the dialog does, while this thread asks the same cache.
    std::thread worker([&] { first = EnumerateCodecs(&*format, cache); });
    const CodecList concurrent = EnumerateCodecs(&*format, cache);
    worker.join();
    EXPECT_EQ(first, concurrent);
    const size_t asked = cache.QueryCount();
    ASSERT_GT(asked, 0u);

    EXPECT_EQ(EnumerateCodecs(&*format, cache), first);
    EXPECT_EQ(cache.QueryCount(), asked) << "a second opening asks no compressor again";

    ListFor(320, 240, 16, cache);
    const size_t afterDepth = cache.QueryCount();
    EXPECT_GT(afterDepth, asked) << "another depth is asked anew";
    ListFor(320, 200, 16, cache);
    EXPECT_GT(cache.QueryCount(), afterDepth) << "another size is asked anew";
}

TEST(CodecList, DefaultDisplayGivesTheRootWindowsFormat) {
    std::unique_ptr<platform::XDisplay> display = platform::XDisplay::Open();
    ASSERT_TRUE(display) << "runs inside the desktop session";
    const auto format = BuildScreenFormat(*display, display->Root());
    ASSERT_TRUE(format);
    EXPECT_EQ(format->Header().biWidth, display->ScreenWidth());
    EXPECT_EQ(format->Header().biHeight, display->ScreenHeight());
    EXPECT_EQ(format->Header().biBitCount, display->RootBitsPerPixel());
    EXPECT_FALSE(BuildScreenFormat(*display, 0x7FFFFFF0u)) << "no such window";

    CodecAdmissionCache cache;
    const CodecList list = EnumerateCodecs(cache);
    const size_t asked = cache.QueryCount();
    EXPECT_EQ(list[0], u"Uncompress");
    EXPECT_TRUE(Contains(list, u"MJPEG (Motion JPEG)"));
    EXPECT_EQ(EnumerateCodecs(&*format, cache), list);
    EXPECT_EQ(cache.QueryCount(), asked);
}

}  // namespace
