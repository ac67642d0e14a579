// The stream-name buffer: filled by SetStreamName, read by nothing else.
#include <cstring>

#include "engine/korvid.h"

namespace {

uint16_t g_streamName[64] = {};

}  // namespace

extern "C" {

KORVID_API void SetStreamName(const uint16_t* name)
{
    // Up to 64 characters, the rest zeros; a name of 64 or more has no terminator.
    size_t i = 0;
    if (name)
        for (; i < 64 && name[i] != 0; ++i)
            g_streamName[i] = name[i];
    for (; i < 64; ++i)
        g_streamName[i] = 0;
}

KORVID_API void _SetStreamName(const uint16_t* name) __attribute__((alias("SetStreamName")));

}
