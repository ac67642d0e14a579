#include "settings/ScreenFormat.h"

#include <cstring>

namespace settings {

ScreenFormat::ScreenFormat(size_t colours)
    : block_((sizeof(BitmapInfoHeader) + 4 * colours) / sizeof(uint32_t), 0) {}

const BitmapInfoHeader& ScreenFormat::Header() const {
    return *reinterpret_cast<const BitmapInfoHeader*>(block_.data());
}

const void* ScreenFormat::Data() const { return block_.data(); }

size_t ScreenFormat::Size() const { return block_.size() * sizeof(uint32_t); }

size_t ScreenFormat::ColourCount() const { return (Size() - sizeof(BitmapInfoHeader)) / 4; }

std::optional<ScreenFormat> BuildScreenFormat(int width, int height, int depth) {
    if (width <= 0 || height <= 0 || depth <= 0 || depth > 32) return std::nullopt;
    const size_t colours = depth == 1 ? 2 : depth == 2 ? 4 : depth == 4 ? 16 : depth == 8 ? 256 : 0;
    if (colours == 2 || colours == 4 || colours == 16) return std::nullopt;
    const uint64_t stride = (uint64_t(depth) * uint64_t(width) + 31) / 32 * 4;
    const uint64_t image = stride * uint64_t(height);
    if (image > UINT32_MAX) return std::nullopt;

    ScreenFormat format(colours);
    BitmapInfoHeader header{};
    header.biSize = sizeof(BitmapInfoHeader);
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = uint16_t(depth);
    header.biCompression = TAVREC_BI_RGB;
    header.biSizeImage = uint32_t(image);
    header.biClrUsed = depth <= 8 ? (1u << depth) : 0;
    std::memcpy(format.block_.data(), &header, sizeof header);
    return format;
}

std::optional<ScreenFormat> BuildScreenFormat(platform::XDisplay& display, platform::WindowId window) {
    RectL rect{};
    if (!display.GetWindowRect(window, &rect)) return std::nullopt;
    return BuildScreenFormat(rect.right - rect.left, rect.bottom - rect.top, display.RootBitsPerPixel());
}

}  // namespace settings
