#include "engine/FrameChanges.h"

#include <algorithm>
#include <cstdint>

namespace korvid {

namespace {

// More rectangles than this are grabbed as their bounding box: each rectangle costs
// a request and a reply, and a scattered region is usually one busy area.
constexpr size_t kMaxParts = 32;

}  // namespace

std::unique_ptr<FrameChanges> FrameChanges::Create(int frameWidth, int frameHeight)
{
    auto damage = platform::ScreenDamage::Create();
    if (!damage)
        return nullptr;
    return std::unique_ptr<FrameChanges>(new FrameChanges(std::move(damage), frameWidth, frameHeight));
}

FrameChanges::FrameChanges(std::unique_ptr<platform::ScreenDamage> damage, int frameWidth, int frameHeight)
    : damage_(std::move(damage)), width_(frameWidth), height_(frameHeight)
{
    damaged_.reserve(kMaxParts * 2);
    parts_.reserve(kMaxParts);
}

bool FrameChanges::CursorChanged(int left, int top, const platform::CursorImage* cursor) const
{
    // Only a cursor that lies (or lay) over the frame changes it.
    bool shown = false;
    int x = 0, y = 0;
    if (cursor) {
        x = cursor->x - left - cursor->xhot;
        y = cursor->y - top - cursor->yhot;
        shown = x < width_ && y < height_ && x + cursor->width > 0 && y + cursor->height > 0;
    }
    if (shown != cursorShown_)
        return true;
    if (!shown)
        return false;
    return x != cursorX_ || y != cursorY_ || cursor->width != cursorWidth_ || cursor->height != cursorHeight_ ||
           cursor->serial != cursorSerial_;
}

void FrameChanges::Remember(int left, int top, const platform::CursorImage* cursor)
{
    left_ = left;
    top_ = top;
    cursorShown_ = false;
    if (!cursor)
        return;
    cursorX_ = cursor->x - left - cursor->xhot;
    cursorY_ = cursor->y - top - cursor->yhot;
    cursorWidth_ = cursor->width;
    cursorHeight_ = cursor->height;
    cursorSerial_ = cursor->serial;
    cursorShown_ = cursorX_ < width_ && cursorY_ < height_ && cursorX_ + cursorWidth_ > 0 &&
                   cursorY_ + cursorHeight_ > 0;
}

FrameChanges::Step FrameChanges::Next(int left, int top, const platform::CursorImage* cursor, bool keptFrame)
{
    parts_.clear();
    // The damage is taken on every slot, so that what a later slot sees is what was
    // drawn after this one.
    platform::ScreenRect bounds;
    bool resized = false;
    bool known = damage_ != nullptr;
    if (known && !damage_->Take(&damaged_, &bounds, &resized)) {
        damage_.reset();  // the connection failed: every slot is built whole from now on
        known = false;
    }
    const bool whole = wholeNext_ || !known || resized || keptFrame || left != left_ || top != top_;
    // Frames the hook keeps are built as they come; the first grabbed after them is
    // whole again, since the kept frame holds what the hook drew.
    wholeNext_ = keptFrame;
    lastSkipped_ = false;
    if (whole) {
        Remember(left, top, cursor);
        return Step::Whole;
    }

    // The damaged rectangles inside the area, in frame coordinates.
    const bool scattered = damaged_.size() > kMaxParts;
    const size_t count = scattered ? 1 : damaged_.size();
    int64_t area = 0;
    for (size_t i = 0; i < count; ++i) {
        const platform::ScreenRect& r = scattered ? bounds : damaged_[i];
        const int64_t x0 = std::max<int64_t>(int64_t{r.x} - left, 0);
        const int64_t y0 = std::max<int64_t>(int64_t{r.y} - top, 0);
        const int64_t x1 = std::min<int64_t>(int64_t{r.x} + r.width - left, width_);
        const int64_t y1 = std::min<int64_t>(int64_t{r.y} + r.height - top, height_);
        if (x0 >= x1 || y0 >= y1)
            continue;
        parts_.push_back(platform::FrameRect{static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1 - x0),
                                             static_cast<int>(y1 - y0)});
        area += (x1 - x0) * (y1 - y0);
    }
    const bool cursorChanged = CursorChanged(left, top, cursor);
    Remember(left, top, cursor);
    if (parts_.empty()) {
        lastSkipped_ = !cursorChanged;
        return cursorChanged ? Step::Parts : Step::Skip;
    }
    // Most of the frame changed: one whole grab costs less than many parts.
    if (area * 4 >= int64_t{width_} * height_ * 3) {
        parts_.clear();
        return Step::Whole;
    }
    return Step::Parts;
}

}  // namespace korvid
