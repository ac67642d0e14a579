// What changed on the screen: a DAMAGE object on the root window, on an X connection
// of its own, collects every area drawn to since the last look (windows, their
// children, the root's background). Each Take moves the collected areas out in one
// round trip, so a later look never misses a change an earlier one left behind.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

class XDisplay;

// An area of root coordinates.
struct ScreenRect {
    int x = 0, y = 0, width = 0, height = 0;
};

class ScreenDamage {
public:
    // Null with *error when the X server has no DAMAGE extension or no XFixes regions
    // (version 2), or the connection cannot be opened.
    static std::unique_ptr<ScreenDamage> Create(std::string* error = nullptr);
    ~ScreenDamage();
    ScreenDamage(const ScreenDamage&) = delete;
    ScreenDamage& operator=(const ScreenDamage&) = delete;

    // The areas drawn to since the previous Take (or since Create), disjoint, into
    // *rects (which keeps its capacity); *bounds receives their bounding box.
    // *resized is true when the screen changed size meanwhile. False with LastError
    // when the connection failed: nothing is known then.
    bool Take(std::vector<ScreenRect>* rects, ScreenRect* bounds, bool* resized);

    const std::string& LastError() const;

    struct Impl;

private:
    explicit ScreenDamage(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
