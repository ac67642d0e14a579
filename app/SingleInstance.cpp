#include "app/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

std::string SingleInstance::LockPath()
{
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    if (runtimeDir && *runtimeDir)
        return std::string(runtimeDir) + "/tavrec.lock";
    // /tmp is shared by all users: the name carries ours.
    return "/tmp/tavrec-" + std::to_string(getuid()) + ".lock";
}

SingleInstance::SingleInstance()
{
    const std::string path = LockPath();
    // O_NOFOLLOW: in a shared folder a planted symbolic link must not make us create
    // or lock a file elsewhere.
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0)
        throw std::runtime_error("Cannot open the instance lock " + path + ": " + std::strerror(errno));

    struct stat info {};
    if (fstat(fd_, &info) != 0 || info.st_uid != getuid() || !S_ISREG(info.st_mode)) {
        close(fd_);
        fd_ = -1;
        throw std::runtime_error("The instance lock " + path + " belongs to another user");
    }

    int rc;
    do {
        rc = flock(fd_, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int error = errno;
        close(fd_);
        fd_ = -1;
        if (error == EWOULDBLOCK)
            throw std::runtime_error("Program is already running.");
        throw std::runtime_error("Cannot lock " + path + ": " + std::strerror(error));
    }
}

SingleInstance::~SingleInstance()
{
    if (fd_ >= 0)
        close(fd_);  // closing the only descriptor releases the lock
}
