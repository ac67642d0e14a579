// links: tavrec_settings
// The camera list: entries named like video devices that are no V4L2 capture device
// are left out without blocking (a FIFO opened without O_NONBLOCK would wait for a
// writer), and the machine's own devices list without failing.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "settings/CameraList.h"

namespace {

TEST(CameraList, FolderWithoutCaptureDevicesGivesNothing) {
    std::string pattern = (std::filesystem::temp_directory_path() / "tavrec-cameras-XXXXXX").string();
    ASSERT_TRUE(mkdtemp(pattern.data()));
    const std::filesystem::path folder = pattern;
    EXPECT_TRUE(settings::EnumerateCameras(folder.string()).empty());

    std::ofstream(folder / "video0") << "not a device";
    std::filesystem::create_directory(folder / "video1");
    ASSERT_EQ(mkfifo((folder / "video2").c_str(), 0600), 0);
    std::filesystem::create_symlink(folder / "missing", folder / "video10");
    EXPECT_TRUE(settings::EnumerateCameras(folder.string()).empty());
    EXPECT_TRUE(settings::EnumerateCameras((folder / "absent").string()).empty());
    std::filesystem::remove_all(folder);

    for (const auto& name : settings::EnumerateCameras()) EXPECT_LE(name.size(), settings::kCameraNameMax);
}

}  // namespace
