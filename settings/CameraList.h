// The camera list of the preferences: the names of the video capture devices. The
// choice is only stored and offered again; nothing in the program opens a camera.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace settings {

// Longest name kept, in UTF-16 units.
inline constexpr size_t kCameraNameMax = 63;

using CameraList = std::vector<std::u16string>;  // card names, cut to kCameraNameMax units

// The V4L2 video capture devices /dev/video*, by device number (video2 before
// video10). A device that cannot be opened or queried is left out.
CameraList EnumerateCameras();
// The same over the video* entries of another folder.
CameraList EnumerateCameras(const std::string& deviceFolder);

}  // namespace settings
