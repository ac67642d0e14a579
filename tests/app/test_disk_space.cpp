// links: tavrec_diskspace
// The disk watch's free-space test on real small volumes: a tmpfs filled to one page
// either side of the threshold, and an ext4 image whose blocks reserved for root an
// ordinary writer cannot use. Mounting needs root; without it the tests skip.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/DiskSpace.h"

namespace {

// A volume mounted on a new folder for the life of the object.
struct Mounted {
    explicit Mounted(const std::string& command) : dir(::testing::TempDir() + "tavrec-disk.XXXXXX")
    {
        ok = mkdtemp(dir.data()) && geteuid() == 0 &&
             std::system(("timeout 20 " + command + " " + dir + " 2>/dev/null").c_str()) == 0;
    }
    ~Mounted()
    {
        if (ok && umount(dir.c_str()) != 0)
            umount2(dir.c_str(), MNT_DETACH);
        rmdir(dir.c_str());
    }
    std::string dir;
    bool ok = false;
};

void Append(const std::string& file, size_t bytes)
{
    const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    ASSERT_GE(fd, 0);
    const std::vector<char> block(bytes, 'x');
    EXPECT_EQ(write(fd, block.data(), bytes), static_cast<ssize_t>(bytes));
    close(fd);
}

TEST(DiskSpace, TmpfsIsFullOnePageBelowTheThreshold)
{
    Mounted volume("mount -t tmpfs -o size=24m,mode=0700 tavrec-test");
    if (!volume.ok)
        GTEST_SKIP() << "mounting a tmpfs needs root";
    EXPECT_EQ(UsableBytes(volume.dir), 24u * 1024 * 1024);
    const std::string file = volume.dir + "/clip.avi";
    Append(file, 24u * 1024 * 1024 - DiskFullThreshold);  // leaves exactly the threshold
    EXPECT_EQ(UsableBytes(volume.dir), DiskFullThreshold);
    EXPECT_FALSE(IsDiskAlmostFull(volume.dir));
    Append(file, 1);  // takes one more page
    EXPECT_TRUE(IsDiskAlmostFull(FolderOfFile(file)));
    // A folder that is not there is measured where it would be made.
    EXPECT_TRUE(IsDiskAlmostFull(volume.dir + "/gone/deeper/"));
    ASSERT_EQ(truncate(file.c_str(), 0), 0);
    EXPECT_FALSE(IsDiskAlmostFull(volume.dir));

    EXPECT_EQ(FolderOfFile("/rec/a.b/clip.avi"), "/rec/a.b");
    EXPECT_EQ(FolderOfFile("/clip.avi"), "/");
    EXPECT_EQ(FolderOfFile("clip.avi"), ".");
    EXPECT_EQ(UsableBytes("no-such-folder/below"), UsableBytes("."));
}

TEST(DiskSpace, BlocksReservedForRootDoNotCount)
{
    std::string image = ::testing::TempDir() + "tavrec-ext4.XXXXXX";
    const int fd = mkstemp(image.data());
    ASSERT_GE(fd, 0);
    close(fd);
    // 40 MB with half reserved for root: over 30 MB free, under 20 MB usable.
    bool mounted = std::system(("timeout 30 mkfs.ext4 -q -F -m 50 " + image + " 40M >/dev/null 2>&1").c_str()) == 0;
    {
        Mounted volume("mount -o loop " + image);
        mounted = mounted && volume.ok;
        if (mounted) {
            EXPECT_GT(UsableBytes(volume.dir).value_or(0), DiskFullThreshold / 2);
            EXPECT_TRUE(IsDiskAlmostFull(volume.dir));
        }
    }
    unlink(image.c_str());
    if (!mounted)
        GTEST_SKIP() << "an ext4 image needs mkfs.ext4, root and a loop device";
}

}  // namespace
