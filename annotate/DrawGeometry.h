// Points and rectangles of the drawing. Rectangles are RectL as the capture
// library uses them: left and top inside, right and bottom just outside.
#pragma once

#include <algorithm>
#include <cstdint>

#include "platform/WinTypes.h"

namespace annotate {

struct Point {
    int32_t x = 0;
    int32_t y = 0;
};

inline bool IsEmpty(const RectL& r) { return r.right <= r.left || r.bottom <= r.top; }

inline RectL EmptyRect() { return RectL{0, 0, 0, 0}; }

// The smallest rectangle holding both; an empty one adds nothing.
inline RectL Union(const RectL& a, const RectL& b)
{
    if (IsEmpty(a))
        return b;
    if (IsEmpty(b))
        return a;
    return RectL{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                 std::max(a.bottom, b.bottom)};
}

// The part of r inside (0, 0, width, height); empty when nothing is left.
inline RectL ClipTo(const RectL& r, int32_t width, int32_t height)
{
    RectL c{std::max(r.left, 0), std::max(r.top, 0), std::min(r.right, width), std::min(r.bottom, height)};
    return IsEmpty(c) ? EmptyRect() : c;
}

}  // namespace annotate
