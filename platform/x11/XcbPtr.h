// Holds an XCB reply or error, which XCB allocates with malloc, and frees it with
// free(). Header-only over <cstdlib>, so that the mouse-hook library can use it too.
#pragma once

#include <cstdlib>
#include <memory>

namespace platform {

struct XcbFree {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using XcbPtr = std::unique_ptr<T, XcbFree>;

}  // namespace platform
