// The name of a core X error code ("BadWindow"), for the texts that describe an X
// error. Header-only, so that the mouse-hook library can use it too.
#pragma once

#include <cstdint>

namespace platform {

inline const char* XErrorName(uint8_t code)
{
    static const char* const names[] = {"Success",  "BadRequest",  "BadValue",    "BadWindow",
                                        "BadPixmap", "BadAtom",    "BadCursor",   "BadFont",
                                        "BadMatch", "BadDrawable", "BadAccess",   "BadAlloc",
                                        "BadColormap", "BadGContext", "BadIDChoice", "BadName",
                                        "BadLength", "BadImplementation"};
    return code < sizeof(names) / sizeof(names[0]) ? names[code] : "extension error";
}

}  // namespace platform
