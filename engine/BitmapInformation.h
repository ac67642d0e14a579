// The uncompressed frame format of a screen area, for the library's own use.
#pragma once

#include <cstdint>

#include "engine/korvid.h"

namespace korvid {

// True when the options ask for a fixed rectangle of the screen instead of a window.
inline bool HasRegion(const CaptureOptions& options)
{
    return options.RegionWidth > 0 && options.RegionHeight > 0;
}

enum class RegionFormat { Made, Failed, OffScreen };

// The frame format of the options' rectangle at the screen's colour depth, as
// GetBitmapInformation makes it for a window. OffScreen (nothing made) when the
// rectangle does not lie wholly on the screen.
RegionFormat GetRegionInformation(const CaptureOptions& options, BitmapInfoHeader** info);

}  // namespace korvid
