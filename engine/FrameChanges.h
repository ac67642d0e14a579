// Speedup Mode: what each frame slot needs, from what changed since the last frame
// written. A slot in which nothing was drawn in the capture area, the cursor neither
// moved nor changed its image and the area stayed in place needs nothing: it becomes
// an empty position, which players show as the frame before. A slot in which part of
// the area changed needs only those parts grabbed into the kept frame. The first slot,
// the first after a pause, the first grabbed after frames the OnFrame hook kept and a
// skipped last slot at the stop are built whole.
#pragma once

#include <memory>
#include <vector>

#include "platform/x11/CursorImage.h"
#include "platform/x11/ScreenDamage.h"
#include "platform/x11/ScreenGrabber.h"

namespace korvid {

class FrameChanges {
public:
    enum class Step {
        Skip,   // nothing changed: an empty position
        Parts,  // grab Parts() (possibly none: only the cursor changed), then build
        Whole,  // grab the whole area (unless the hook keeps the frame), then build
    };

    // Null when the screen's damage cannot be followed (an X server without the
    // DAMAGE extension): the recording then builds every slot, as without the mode.
    static std::unique_ptr<FrameChanges> Create(int frameWidth, int frameHeight);

    // The step for the slot whose area has its top-left corner at (left, top) in root
    // coordinates. cursor: the pointer as just read, null when it could not be read.
    // keptFrame: the hook asked to reuse the last frame, so nothing is grabbed and the
    // slot is built for the hook to add to it.
    Step Next(int left, int top, const platform::CursorImage* cursor, bool keptFrame);
    // The rectangles to grab for Step::Parts, in frame coordinates.
    const std::vector<platform::FrameRect>& Parts() const { return parts_; }
    // The next slot is built whole (a recording resumed after a pause).
    void BuildWholeNext() { wholeNext_ = true; }
    // At the stop: whether the last slot was skipped, which must then be built (whole)
    // after all, since a stream ends with its last frame written.
    bool EndNeedsFrame()
    {
        wholeNext_ = wholeNext_ || lastSkipped_;
        return lastSkipped_;
    }

private:
    FrameChanges(std::unique_ptr<platform::ScreenDamage> damage, int frameWidth, int frameHeight);
    // Whether the frame shows a different cursor than the one last written.
    bool CursorChanged(int left, int top, const platform::CursorImage* cursor) const;
    void Remember(int left, int top, const platform::CursorImage* cursor);

    std::unique_ptr<platform::ScreenDamage> damage_;  // null once its connection failed
    int width_, height_;
    bool wholeNext_ = true;
    bool lastSkipped_ = false;
    int left_ = 0, top_ = 0;

    // The cursor in the frame last written, in frame coordinates of its image's box.
    bool cursorShown_ = false;
    int cursorX_ = 0, cursorY_ = 0, cursorWidth_ = 0, cursorHeight_ = 0;
    uint32_t cursorSerial_ = 0;

    std::vector<platform::ScreenRect> damaged_;
    std::vector<platform::FrameRect> parts_;
};

}  // namespace korvid
