// links: tavrec_support_MediaProbe tavrec_support_TestWindow tavrec_platform_x11
// korvid-rec --region as a user runs it: the file holds exactly the rectangle's pixels.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "tests/support/MediaProbe.h"
#include "tests/support/TestWindow.h"

namespace {

using namespace std::chrono_literals;
using testsupport::TestWindow;

const std::string kRec = TAVREC_BINARY_DIR "/bin/korvid-rec";

bool Exists(const std::string& path)
{
    struct stat st{};
    return stat(path.c_str(), &st) == 0;
}

TEST(KorvidRecRegion, RecordsTheRectangleOverTwoWindowsPixelForPixel)
{
    testkit::RunCapture({"xdotool", "mousemove", "5", "5"});
    testsupport::TestWindowOptions options;
    options.overrideRedirect = true;
    options.y = 500;
    options.width = 150;
    options.height = 100;
    std::string error;
    options.x = 600;
    auto upper = TestWindow::Create(options, &error);
    ASSERT_TRUE(upper) << error;
    options.x = 600;
    options.y = 600;
    auto lower = TestWindow::Create(options, &error);
    ASSERT_TRUE(lower) << error;
    ASSERT_EQ(upper->BitsPerPixel(), 32) << "this test expects a 24-bit screen";

    // 100 x 120 from (620, 540): rows 40..99 of the upper window, 0..59 of the lower.
    constexpr int kX = 620, kY = 540, kW = 100, kH = 120;
    testkit::TempDir dir;
    const std::string file = dir.File("region file.avi");
    int code = -1;
    testkit::RunCapture({kRec, "--region", "100x120+620+540", "--fps", "10", "--seconds", "1", "--speedup", file},
                        &code, &error);
    ASSERT_EQ(code, 0) << error;
    const auto frames = testkit::DecodeVideo(file, "bgr0", kW, kH, 4);
    ASSERT_GE(frames.size(), 1u);
    for (size_t f = 0; f < frames.size(); ++f) {
        int bad = 0;
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                const int rx = kX + x, ry = kY + y;
                const TestWindow& window = ry < 600 ? *upper : *lower;
                const uint32_t want = window.ExpectedFramePixel(rx - 600, ry - (ry < 600 ? 500 : 600), 0) & 0xFFFFFF;
                uint32_t got = 0;
                std::memcpy(&got, &frames[f][(static_cast<size_t>(y) * kW + x) * 4], 4);
                bad += (got & 0xFFFFFF) != want;
            }
        EXPECT_EQ(bad, 0) << "frame " << f;
    }
}

TEST(KorvidRecRegion, ABadOrOffScreenRegionIsRefusedAndRecordsNothing)
{
    testkit::TempDir dir;
    const std::string file = dir.File("x.avi");
    int code = -1;
    std::string errors;
    for (const char* bad : {"100x100", "0x10+0+0", "10x10+5", "axb+1+1", "10x10+1+1junk"}) {
        testkit::RunCapture({kRec, "--region", bad, file}, &code, &errors);
        EXPECT_EQ(code, 2) << bad;
        EXPECT_NE(errors.find("--region must be WxH+X+Y"), std::string::npos) << bad << ": " << errors;
    }
    // Partly off the screen: refused, not clipped.
    for (const char* off : {"100x100+-1+0", "100x100+0+1000", "2000x10+0+0"}) {
        testkit::RunCapture({kRec, "--region", off, "--seconds", "1", file}, &code, &errors);
        EXPECT_EQ(code, 2) << off;
        EXPECT_NE(errors.find("does not lie wholly on the"), std::string::npos) << off << ": " << errors;
    }
    testkit::RunCapture({kRec, "--region", "10x10+0+0", "--window", "under-pointer", file}, &code, &errors);
    EXPECT_EQ(code, 2);
    EXPECT_FALSE(Exists(file));

    const std::string help = testkit::RunCapture({kRec, "--help"}, &code);
    EXPECT_NE(help.find("--region WxH+X+Y"), std::string::npos);
}

}  // namespace
