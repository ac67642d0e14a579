// links: tavrec_platform_x11
// Drawing the pointer's image into frames of each layout, without an X server: the
// blend of premultiplied ARGB, the clip to the frame and the depths left alone.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/x11/CursorImage.h"
#include "tests/platform/x11/TestFrame.h"

using platform::CursorImage;
using platform::DrawCursor;
using testsupport::Frame;

namespace {

CursorImage MakeCursor(int w, int h, std::vector<uint32_t> argb)
{
    CursorImage c;
    c.width = w;
    c.height = h;
    c.argb = std::move(argb);
    return c;
}

}  // namespace

TEST(DrawCursor, BlendsPremultipliedArgbInto32BitFrames)
{
    Frame frame(5, 1, 32);
    for (int x = 0; x < 5; ++x)
        frame.Set(x, 0, 0x00C08040);  // R C0, G 80, B 40
    frame.Set(4, 0, 0x00FFFFFF);
    // Opaque, half covering, fully transparent, additive (alpha 0, colour), and a
    // half cover over white that must not overflow.
    const CursorImage c = MakeCursor(5, 1, {0xFF102030, 0x80402000, 0x00000000, 0x00010203, 0x80FF0000});
    DrawCursor(c, 0, 0, frame.Pixels(), 5, 1, frame.stride, 32);
    EXPECT_EQ(frame.At(0, 0), 0x00102030u);
    // R 40 + C0*127/255 = 40 + 96 = A0, G 20 + 80*127/255 = 20 + 64 = 60, B 0 + 40*127/255 = 32 = 20.
    EXPECT_EQ(frame.At(1, 0), 0x00A06020u);
    EXPECT_EQ(frame.At(2, 0), 0x00C08040u);
    EXPECT_EQ(frame.At(3, 0), 0x00C18243u);
    // R FF + FF*127/255 clamps at FF; G and B 0 + FF*127/255 = 7F.
    EXPECT_EQ(frame.At(4, 0), 0x00FF7F7Fu);
}

TEST(DrawCursor, BlendsInto555FramesAndClearsThePadByte)
{
    Frame frame(3, 1, 16);
    const uint32_t base = 16u << 10 | 8u << 5 | 31u;  // R 132, G 66, B 255 when widened to 8 bits
    for (int x = 0; x < 3; ++x)
        frame.Set(x, 0, base);
    const CursorImage c = MakeCursor(3, 1, {0xFFF80800, 0x80402000, 0});
    DrawCursor(c, 0, 0, frame.Pixels(), 3, 1, frame.stride, 16);
    EXPECT_EQ(frame.At(0, 0), 31u << 10 | 1u << 5 | 0u);
    // R 40 + 132*127/255 = 64 + 66 = 130 -> 16; G 32 + 33 = 65 -> 8; B 0 + 127 -> 15.
    EXPECT_EQ(frame.At(1, 0), 16u << 10 | 8u << 5 | 15u);
    EXPECT_EQ(frame.At(2, 0), base);

    Frame padded(1, 1, 32);
    padded.Set(0, 0, 0xEE000000);
    DrawCursor(MakeCursor(1, 1, {0xFF010203}), 0, 0, padded.Pixels(), 1, 1, padded.stride, 32);
    EXPECT_EQ(padded.At(0, 0), 0x00010203u);
}

TEST(DrawCursor, DrawsOnlyThePartInsideTheFrame)
{
    // A 4 x 4 opaque cursor whose pixels tell where they came from.
    std::vector<uint32_t> argb;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            argb.push_back(0xFF000000u | static_cast<uint32_t>(y) << 8 | static_cast<uint32_t>(x + 1));
    const CursorImage c = MakeCursor(4, 4, argb);
    const int W = 6, H = 5;
    struct Case {
        int x, y;
    };
    for (const Case place : {Case{-2, -1}, Case{4, 3}, Case{-3, 3}, Case{4, -3}, Case{1, 1}, Case{6, 0},
                             Case{0, 5}, Case{-4, 0}, Case{0, -4}, Case{-100000, 7}}) {
        for (int bpp : {32, 16}) {
            Frame frame(W, H, bpp, 0x11);
            const std::vector<uint8_t> before = frame.data;
            DrawCursor(c, place.x, place.y, frame.Pixels(), W, H, frame.stride, bpp);
            for (int y = 0; y < H; ++y) {
                for (int x = 0; x < W; ++x) {
                    const int cx = x - place.x, cy = y - place.y;
                    uint32_t expected;
                    if (cx >= 0 && cy >= 0 && cx < 4 && cy < 4) {
                        const uint32_t s = argb[cy * 4 + cx] & 0xFFFFFF;
                        expected = bpp == 32 ? s : ((s >> 19) & 0x1f) << 10 | ((s >> 11) & 0x1f) << 5 | ((s >> 3) & 0x1f);
                    } else {
                        uint32_t v = 0;
                        std::memcpy(&v, before.data() + y * frame.stride + x * frame.bytes, frame.bytes);
                        expected = v;
                    }
                    EXPECT_EQ(frame.At(x, y), expected)
                        << "cursor at " << place.x << "," << place.y << " bpp " << bpp << " pixel " << x << "," << y;
                }
                // The bytes past the frame's width in each row stay untouched.
                for (size_t b = static_cast<size_t>(W) * frame.bytes; b < frame.stride; ++b)
                    ASSERT_EQ(frame.data[y * frame.stride + b], 0x11);
            }
        }
    }
}

TEST(DrawCursor, LeavesOtherDepthsAndShortImagesAlone)
{
    Frame frame(4, 4, 8, 0x22);
    const std::vector<uint8_t> before = frame.data;
    DrawCursor(MakeCursor(2, 2, {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF}), 0, 0, frame.Pixels(), 4, 4,
               frame.stride, 8);
    EXPECT_EQ(frame.data, before);
    Frame frame32(4, 4, 32, 0x22);
    const std::vector<uint8_t> before32 = frame32.data;
    DrawCursor(MakeCursor(2, 2, {0xFFFFFFFF}), 0, 0, frame32.Pixels(), 4, 4, frame32.stride, 32);
    EXPECT_EQ(frame32.data, before32);
}
