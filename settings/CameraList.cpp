#include "settings/CameraList.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <utility>

#include "settings/WideText.h"

namespace settings {

namespace {

// The device number of a "videoN" entry, -1 for any other name.
long DeviceNumber(std::string_view name) {
    constexpr std::string_view kPrefix = "video";
    if (name.size() <= kPrefix.size() || name.size() > kPrefix.size() + 9 || name.substr(0, kPrefix.size()) != kPrefix)
        return -1;
    long number = 0;
    for (char c : name.substr(kPrefix.size())) {
        if (c < '0' || c > '9') return -1;
        number = number * 10 + (c - '0');
    }
    return number;
}

// The device's own capabilities (a node of a multi-node driver reports the driver's
// in capabilities and its own in device_caps).
uint32_t DeviceCaps(const v4l2_capability& caps) {
    return (caps.capabilities & V4L2_CAP_DEVICE_CAPS) ? caps.device_caps : caps.capabilities;
}

// The card name of a capture device; false when the path is no V4L2 capture device.
bool CaptureCardName(const std::string& path, std::string* name) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    v4l2_capability caps{};
    int result;
    do
        result = ::ioctl(fd, VIDIOC_QUERYCAP, &caps);
    while (result < 0 && errno == EINTR);
    ::close(fd);
    if (result < 0) return false;
    if (!(DeviceCaps(caps) & (V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_VIDEO_CAPTURE_MPLANE))) return false;
    const char* card = reinterpret_cast<const char*>(caps.card);
    name->assign(card, strnlen(card, sizeof caps.card));
    return true;
}

}  // namespace

CameraList EnumerateCameras(const std::string& deviceFolder) {
    std::vector<std::pair<long, std::string>> devices;
    if (DIR* dir = ::opendir(deviceFolder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const long number = DeviceNumber(entry->d_name);
            if (number >= 0) devices.emplace_back(number, entry->d_name);
        }
        ::closedir(dir);
    }
    std::sort(devices.begin(), devices.end());

    CameraList cameras;
    std::string card;
    for (const auto& device : devices) {
        if (!CaptureCardName(deviceFolder + "/" + device.second, &card)) continue;
        std::u16string name = Utf8ToUtf16(card);
        name.resize(Utf16PrefixLength(name, kCameraNameMax));
        cameras.push_back(std::move(name));
    }
    return cameras;
}

CameraList EnumerateCameras() { return EnumerateCameras("/dev"); }

}  // namespace settings
