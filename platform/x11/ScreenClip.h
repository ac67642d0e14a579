// The screen's size as the grabs see it, followed through the root's resizes
// (RandR), and an area of root coordinates clipped to it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/x11/XDisplay.h"

namespace platform {

class ScreenClip {
public:
    explicit ScreenClip(XDisplay& display);

    // Selects the root's structure events, then reads its size, so that no resize
    // goes unseen. False with *error.
    bool Start(std::string* error);
    // Reads the root's size again (one round trip); false with the display's error.
    bool Refresh(std::string* error);
    // Takes the root's size from the ConfigureNotify events already queued.
    void Follow();

    // The part of the w x h area at (x, y) that lies on the screen; false when none does.
    struct Part {
        int left = 0, top = 0, width = 0, height = 0;
    };
    bool Clip(int x, int y, int w, int h, Part* part) const;
    // The screen's size as last seen.
    int Width() const { return width_; }
    int Height() const { return height_; }

private:
    XDisplay& display_;
    WindowId root_;
    int width_ = 0;
    int height_ = 0;
};

}  // namespace platform
