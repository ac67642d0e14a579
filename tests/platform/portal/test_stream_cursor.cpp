// links: tavrec_platform_portal
// The stream's cursor metadata kept as a CursorImage: each 4-byte layout becomes
// premultiplied ARGB, what counts as a change of the drawn cursor, and images that
// cannot be drawn.
#include <gtest/gtest.h>

#include <vector>

#include "platform/portal/StreamCursor.h"

namespace {

using platform::CursorImage;
using platform::StreamCursor;
using platform::StreamPixelLayout;
using platform::UpdateStreamCursor;

// A cursor at (x, y) with hot spot (1, 2) and, when pixels is not null, a new image.
StreamCursor At(int x, int y, const std::vector<uint8_t>* pixels = nullptr, int width = 1, int height = 1,
                StreamPixelLayout layout = StreamPixelLayout::Bgrx, bool alpha = true)
{
    StreamCursor c;
    c.visible = true;
    c.x = x, c.y = y, c.xhot = 1, c.yhot = 2;
    if (pixels) {
        c.newImage = true;
        c.image.pixels = pixels->data();
        c.image.width = width;
        c.image.height = height;
        c.image.stride = static_cast<size_t>(width) * 4;
        c.image.layout = layout;
        c.alphaByte = alpha;
    }
    return c;
}

TEST(StreamCursor, EachLayoutBecomesPremultipliedArgb)
{
    // R 0x40, G 0x30, B 0x20, A 0x80 in each byte order.
    const struct {
        StreamPixelLayout layout;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {StreamPixelLayout::Bgrx, {0x20, 0x30, 0x40, 0x80}},
        {StreamPixelLayout::Rgbx, {0x40, 0x30, 0x20, 0x80}},
        {StreamPixelLayout::Xrgb, {0x80, 0x40, 0x30, 0x20}},
        {StreamPixelLayout::Xbgr, {0x80, 0x20, 0x30, 0x40}},
    };
    for (const auto& c : cases) {
        CursorImage kept;
        bool visible = false;
        EXPECT_TRUE(UpdateStreamCursor(At(5, 6, &c.bytes, 1, 1, c.layout), &kept, &visible));
        EXPECT_TRUE(visible);
        ASSERT_EQ(kept.argb.size(), 1u);
        EXPECT_EQ(kept.argb[0], 0x80403020u) << static_cast<int>(c.layout);
        EXPECT_EQ(kept.x, 5);
        EXPECT_EQ(kept.yhot, 2);
        // Without an alpha byte the image is opaque.
        EXPECT_TRUE(UpdateStreamCursor(At(5, 6, &c.bytes, 1, 1, c.layout, false), &kept, &visible));
        EXPECT_EQ(kept.argb[0] >> 24, 0xFFu);
    }
    // A channel above its alpha (not premultiplied after all) is held to the alpha.
    const std::vector<uint8_t> straight = {0xFF, 0x10, 0xFF, 0x40, 0, 0, 0, 0};
    CursorImage kept;
    bool visible = false;
    UpdateStreamCursor(At(0, 0, &straight, 2, 1), &kept, &visible);
    EXPECT_EQ(kept.argb[0], 0x40401040u);
    EXPECT_EQ(kept.argb[1], 0u);  // fully clear: DrawCursor leaves the pixel
}

TEST(StreamCursor, OnlyWhatChangesTheDrawnCursorIsAChange)
{
    const std::vector<uint8_t> pixel = {1, 2, 3, 255};
    CursorImage kept;
    bool visible = false;
    // Position without an image yet: nothing to draw, no change.
    EXPECT_FALSE(UpdateStreamCursor(At(1, 1), &kept, &visible));
    EXPECT_TRUE(UpdateStreamCursor(At(1, 1, &pixel), &kept, &visible));
    const uint32_t serial = kept.serial;
    EXPECT_FALSE(UpdateStreamCursor(At(1, 1), &kept, &visible));  // the same again
    EXPECT_TRUE(UpdateStreamCursor(At(2, 1), &kept, &visible));    // moved
    EXPECT_EQ(kept.serial, serial);                                 // same image
    EXPECT_TRUE(UpdateStreamCursor(At(2, 1, &pixel), &kept, &visible));  // new image, same place
    EXPECT_NE(kept.serial, serial);

    StreamCursor hidden;  // id 0: not visible
    EXPECT_TRUE(UpdateStreamCursor(hidden, &kept, &visible));
    EXPECT_FALSE(visible);
    EXPECT_FALSE(UpdateStreamCursor(hidden, &kept, &visible));
    EXPECT_TRUE(UpdateStreamCursor(At(9, 9), &kept, &visible));  // back, with its image
    EXPECT_TRUE(visible);
    EXPECT_EQ(kept.width, 1);
}

TEST(StreamCursor, ImagesThatCannotBeDrawnLeaveTheCursorInvisible)
{
    const std::vector<uint8_t> pixel = {1, 2, 3, 255};
    const std::vector<uint8_t> large((platform::kMaxStreamCursorSize + 1) * 4, 0xFF);
    const std::vector<uint8_t> rgb = {1, 2, 3};
    struct Case {
        StreamCursor cursor;
        const char* what;
    } cases[] = {
        {At(3, 3, &large, platform::kMaxStreamCursorSize + 1, 1), "too wide"},
        {At(3, 3, &rgb, 1, 1, StreamPixelLayout::Rgb), "three bytes a pixel"},
        {[] {
             StreamCursor c;
             c.visible = true;
             c.newImage = true;  // an image without pixels
             return c;
         }(),
         "no pixels"},
    };
    for (const Case& c : cases) {
        CursorImage kept;
        bool visible = false;
        UpdateStreamCursor(At(3, 3, &pixel), &kept, &visible);
        EXPECT_TRUE(UpdateStreamCursor(c.cursor, &kept, &visible)) << c.what;
        EXPECT_EQ(kept.width, 0) << c.what;
        EXPECT_FALSE(UpdateStreamCursor(At(4, 4), &kept, &visible)) << c.what;  // moving it draws nothing
    }
}

}  // namespace
