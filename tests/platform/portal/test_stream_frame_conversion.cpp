// links: tavrec_platform_portal
// The screen-cast stream's pixels turned into the recording's B, G, R, 0 frame: each
// byte order PipeWire may offer, and a stream whose size is no longer the frame's.
#include <gtest/gtest.h>

#include <vector>

#include "platform/portal/StreamFrameConversion.h"

namespace {

using platform::StreamPixelLayout;

// One pixel with R = 0x11, G = 0x22, B = 0x33 (and 0x99 as padding or alpha) in the layout.
std::vector<uint8_t> Pixel(StreamPixelLayout layout)
{
    switch (layout) {
    case StreamPixelLayout::Bgrx: return {0x33, 0x22, 0x11, 0x99};
    case StreamPixelLayout::Rgbx: return {0x11, 0x22, 0x33, 0x99};
    case StreamPixelLayout::Xrgb: return {0x99, 0x11, 0x22, 0x33};
    case StreamPixelLayout::Xbgr: return {0x99, 0x33, 0x22, 0x11};
    case StreamPixelLayout::Bgr: return {0x33, 0x22, 0x11};
    case StreamPixelLayout::Rgb: return {0x11, 0x22, 0x33};
    case StreamPixelLayout::Unknown: break;
    }
    return {};
}

TEST(StreamFrameConversion, EveryLayoutGivesBgrAndAZeroFourthByte)
{
    for (auto layout : {StreamPixelLayout::Bgrx, StreamPixelLayout::Rgbx, StreamPixelLayout::Xrgb,
                        StreamPixelLayout::Xbgr, StreamPixelLayout::Bgr, StreamPixelLayout::Rgb}) {
        std::vector<uint8_t> row;
        for (int i = 0; i < 5; ++i) {  // an odd count, past any unrolled step
            const auto p = Pixel(layout);
            row.insert(row.end(), p.begin(), p.end());
        }
        ASSERT_EQ(row.size(), 5u * platform::StreamPixelBytes(layout));
        std::vector<uint8_t> out(5 * 4, 0xEE);
        platform::ConvertStreamRow(row.data(), layout, out.data(), 5);
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(out[4 * i + 0], 0x33) << static_cast<int>(layout);
            EXPECT_EQ(out[4 * i + 1], 0x22) << static_cast<int>(layout);
            EXPECT_EQ(out[4 * i + 2], 0x11) << static_cast<int>(layout);
            EXPECT_EQ(out[4 * i + 3], 0x00) << static_cast<int>(layout);
        }
    }
}

// A stream image of w x h BGRx pixels, each (x, y, 0x40) as B, G, R, rows padded.
struct Image {
    int width, height;
    size_t stride;
    std::vector<uint8_t> bytes;
    Image(int w, int h) : width(w), height(h), stride(static_cast<size_t>(w) * 4 + 12), bytes(stride * h, 0x77)
    {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                uint8_t* p = &bytes[y * stride + x * 4];
                p[0] = static_cast<uint8_t>(x);
                p[1] = static_cast<uint8_t>(y);
                p[2] = 0x40;
                p[3] = 0xFF;
            }
    }
    platform::StreamImage View() const { return {bytes.data(), stride, width, height, StreamPixelLayout::Bgrx}; }
};

TEST(StreamFrameConversion, ASmallerStreamFillsTheTopLeftAndTheRestIsBlack)
{
    const Image image(3, 2);
    const int fw = 5, fh = 4;
    const size_t fs = fw * 4 + 8;
    std::vector<uint8_t> frame(fs * fh, 0xEE);
    ASSERT_TRUE(platform::ConvertStreamFrame(image.View(), {frame.data(), fs, fw, fh}));
    for (int y = 0; y < fh; ++y)
        for (int x = 0; x < fw; ++x) {
            const uint8_t* p = &frame[y * fs + x * 4];
            const bool inside = x < 3 && y < 2;
            EXPECT_EQ(p[0], inside ? x : 0) << x << "," << y;
            EXPECT_EQ(p[1], inside ? y : 0) << x << "," << y;
            EXPECT_EQ(p[2], inside ? 0x40 : 0) << x << "," << y;
            EXPECT_EQ(p[3], 0) << x << "," << y;
        }
    // The frame's row padding is not the frame's to touch.
    EXPECT_EQ(frame[fw * 4], 0xEE);
}

TEST(StreamFrameConversion, ALargerStreamIsCutToTheFrame)
{
    const Image image(8, 6);
    const int fw = 4, fh = 3;
    std::vector<uint8_t> frame(fw * 4 * fh, 0xEE);
    ASSERT_TRUE(platform::ConvertStreamFrame(image.View(), {frame.data(), size_t{fw} * 4, fw, fh}));
    for (int y = 0; y < fh; ++y)
        for (int x = 0; x < fw; ++x) {
            EXPECT_EQ(frame[(y * fw + x) * 4 + 0], x);
            EXPECT_EQ(frame[(y * fw + x) * 4 + 1], y);
        }
    const platform::StreamImage unknown{image.bytes.data(), image.stride, 8, 6, StreamPixelLayout::Unknown};
    EXPECT_FALSE(platform::ConvertStreamFrame(unknown, {frame.data(), size_t{fw} * 4, fw, fh}));
}

}  // namespace
