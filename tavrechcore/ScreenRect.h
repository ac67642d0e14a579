// A rectangle in root coordinates.
#pragma once

#include <cstdint>

namespace hookcore {

struct ScreenRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    bool operator==(const ScreenRect&) const = default;
};

}  // namespace hookcore
