// Which pixels a wide line segment covers: every pixel whose centre lies within
// half the width of the segment, with round caps (the pen) or square caps reaching
// half the width past each end (the eraser). Produces one span per row, clipped to
// (0, 0, width, height), so the cost is bounded by the clipped area.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "annotate/DrawGeometry.h"

namespace annotate {

enum class LineCap { Round, Square };

// Calls span(y, x0, x1) for each row y with covered pixels x0 <= x < x1.
template <typename SpanFn>
void RasterSegment(Point a, Point b, int32_t lineWidth, LineCap cap, int32_t width, int32_t height, SpanFn&& span)
{
    const double r = std::max(lineWidth, 1) / 2.0;
    const double ax = a.x, ay = a.y;
    const double dx = static_cast<double>(b.x) - ax, dy = static_cast<double>(b.y) - ay;
    const double length = std::hypot(dx, dy);
    const double ux = length > 0 ? dx / length : 1.0, uy = length > 0 ? dy / length : 0.0;
    const double reach = cap == LineCap::Square ? r * std::sqrt(2.0) : r;

    const auto lo = [](double v) { return static_cast<int64_t>(std::floor(v)); };
    const auto hi = [](double v) { return static_cast<int64_t>(std::ceil(v)); };
    const int64_t top = std::max<int64_t>(lo(std::min<double>(a.y, b.y) - reach), 0);
    const int64_t bottom = std::min<int64_t>(hi(std::max<double>(a.y, b.y) + reach), height - 1);
    const int64_t left = std::max<int64_t>(lo(std::min<double>(a.x, b.x) - reach), 0);
    const int64_t right = std::min<int64_t>(hi(std::max<double>(a.x, b.x) + reach), width - 1);
    const double slack = 1e-9;

    const auto inside = [&](int64_t x, int64_t y) {
        const double px = static_cast<double>(x) - ax, py = static_cast<double>(y) - ay;
        const double along = px * ux + py * uy;
        const double across = px * uy - py * ux;
        if (cap == LineCap::Square)
            return along >= -r - slack && along <= length + r + slack && std::abs(across) <= r + slack;
        if (along < 0)
            return px * px + py * py <= r * r + slack;
        if (along > length) {
            const double qx = static_cast<double>(x) - b.x, qy = static_cast<double>(y) - b.y;
            return qx * qx + qy * qy <= r * r + slack;
        }
        return std::abs(across) <= r + slack;
    };

    // The covered shape is convex, so each row's pixels form one run.
    for (int64_t y = top; y <= bottom; ++y) {
        int64_t x0 = left;
        while (x0 <= right && !inside(x0, y))
            ++x0;
        if (x0 > right)
            continue;
        int64_t x1 = right;
        while (x1 > x0 && !inside(x1, y))
            --x1;
        span(static_cast<int32_t>(y), static_cast<int32_t>(x0), static_cast<int32_t>(x1 + 1));
    }
}

}  // namespace annotate
