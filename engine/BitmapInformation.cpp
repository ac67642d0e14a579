// The uncompressed frame format of a window, or of a fixed rectangle of the screen,
// at the screen's colour depth.
#include <cstdlib>
#include <cstring>

#include "engine/BitmapInformation.h"
#include "engine/korvid.h"
#include "platform/x11/XDisplay.h"

namespace {

// The block for a frame of the given size and depth into *info (which is null).
int32_t MakeBitmapInformation(int32_t width, int32_t height, int32_t bits, BitmapInfoHeader** info)
{
    const uint32_t rowSize = ((static_cast<uint32_t>(width) * bits + 31) & ~31u) / 8;
    uint32_t entries = 0;
    switch (bits) {
    case 1: entries = 2; break;
    case 2: entries = 4; break;
    case 4: entries = 16; break;
    case 8: entries = 256; break;
    default: break;
    }
    if (entries != 0 && entries < 256)
        return -1;
    const size_t blockSize = 40 + 4 * entries;
    auto* header = static_cast<BitmapInfoHeader*>(std::calloc(1, blockSize));
    if (!header)
        return -1;
    header->biSize = 40;
    header->biWidth = width;
    header->biHeight = height;  // positive: rows run bottom-up
    header->biPlanes = 1;
    header->biBitCount = static_cast<uint16_t>(bits);
    header->biCompression = TAVREC_BI_RGB;
    header->biSizeImage = rowSize * static_cast<uint32_t>(height);
    header->biClrUsed = bits <= 8 ? (1u << bits) : 0;
    *info = header;
    return 1;
}

void FreeBlock(BitmapInfoHeader** info)
{
    if (*info) {
        std::free(*info);
        *info = nullptr;
    }
}

}  // namespace

namespace korvid {

RegionFormat GetRegionInformation(const CaptureOptions& options, BitmapInfoHeader** info)
{
    FreeBlock(info);
    auto display = platform::XDisplay::Open();
    if (!display)
        return RegionFormat::Failed;
    RectL screen{};
    if (!display->GetWindowRect(display->Root(), &screen))
        return RegionFormat::Failed;
    // Widened to 64 bits: a rectangle far off the screen must not wrap onto it.
    const int64_t left = options.RegionLeft, top = options.RegionTop;
    if (left < screen.left || top < screen.top || left + options.RegionWidth > screen.right ||
        top + options.RegionHeight > screen.bottom)
        return RegionFormat::OffScreen;
    return MakeBitmapInformation(options.RegionWidth, options.RegionHeight, display->RootBitsPerPixel(), info) == 1
               ? RegionFormat::Made
               : RegionFormat::Failed;
}

}  // namespace korvid

extern "C" {

KORVID_API int32_t GetBitmapInformation(KorvidWindow window, BitmapInfoHeader** info)
{
    if (!info)
        return -1;
    FreeBlock(info);
    auto display = platform::XDisplay::Open();
    if (!display)
        return -1;
    if (window == 0)
        window = display->Root();
    RectL rect{};
    if (!display->GetWindowRect(window, &rect))
        return -1;
    return MakeBitmapInformation(rect.right - rect.left, rect.bottom - rect.top, display->RootBitsPerPixel(), info);
}

KORVID_API void ReleaseBitmapInfo(BitmapInfoHeader* info)
{
    std::free(info);
}

KORVID_API int32_t _GetBitmapInformation(KorvidWindow window, BitmapInfoHeader** info)
    __attribute__((alias("GetBitmapInformation")));
KORVID_API void _ReleaseBitmapInfo(BitmapInfoHeader* info) __attribute__((alias("ReleaseBitmapInfo")));

}
