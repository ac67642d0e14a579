// links: tavrec_platform_sync
// The per-user exclusive lock: one holder at a time, whether the others are in this
// process or another; a dead holder's lock is free again; the object is private.
#include "platform/sync/UserExclusiveLock.h"

#include <gtest/gtest.h>

#include <string>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using platform::UserExclusiveLock;
using Outcome = platform::UserExclusiveLock::Outcome;

namespace {

std::string UniqueName(const std::string& what)
{
    return "tavrec-test-lock-" + what + "-" + std::to_string(getpid());
}

std::string ShmPath(const std::string& name)
{
    return "/dev/shm/" + name + "." + std::to_string(geteuid()) + ".lock";
}

TEST(UserExclusiveLock, OneHolderAtATimeAndADeadHoldersLockIsFree)
{
    const std::string name = UniqueName("holders");
    {
        UserExclusiveLock first, second;
        ASSERT_EQ(first.TryAcquire(name), Outcome::Acquired);
        EXPECT_TRUE(first.Held());
        EXPECT_EQ(second.TryAcquire(name), Outcome::Busy) << "a second holder in the same process";
        EXPECT_FALSE(second.Held());
        first.Release();
        EXPECT_EQ(second.TryAcquire(name), Outcome::Acquired);
    }

    // Another process holds it until it is killed.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        UserExclusiveLock held;
        const char answer = held.TryAcquire(name) == Outcome::Acquired ? 'y' : 'n';
        [[maybe_unused]] ssize_t n = write(ready[1], &answer, 1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char answer = 0;
    ASSERT_EQ(read(ready[0], &answer, 1), 1);
    close(ready[0]);
    EXPECT_EQ(answer, 'y');
    UserExclusiveLock mine;
    EXPECT_EQ(mine.TryAcquire(name), Outcome::Busy);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(mine.TryAcquire(name), Outcome::Acquired) << "the kernel dropped the dead holder's lock";
    mine.Release();
    unlink(ShmPath(name).c_str());
}

TEST(UserExclusiveLock, TheObjectIsPrivateAndNoLinkIsFollowed)
{
    const std::string name = UniqueName("mode");
    const std::string path = ShmPath(name);
    // An object left readable by all is made private.
    const mode_t old = umask(0);
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
    umask(old);
    ASSERT_GE(fd, 0) << path;
    close(fd);
    {
        UserExclusiveLock lock;
        ASSERT_EQ(lock.TryAcquire(name), Outcome::Acquired);
        struct stat st{};
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
    }
    unlink(path.c_str());

    // A planted symbolic link is neither followed nor locked through.
    const std::string target = ShmPath(UniqueName("target"));
    ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0);
    UserExclusiveLock lock;
    std::string error;
    EXPECT_EQ(lock.TryAcquire(name, &error), Outcome::Failed);
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(lock.Held());
    struct stat st{};
    EXPECT_NE(lstat(target.c_str(), &st), 0) << "the link's target was created";
    unlink(path.c_str());

    for (const char* bad : {"", "a/b"}) {
        error.clear();
        EXPECT_EQ(lock.TryAcquire(bad, &error), Outcome::Failed);
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
