#include "platform/sync/EventUserLock.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/sync/EventError.h"
#include "platform/sync/UserShmObject.h"

namespace platform::event {

bool UserLock::Acquire(std::string* error)
{
    const std::string name = "/tavrec-events." + std::to_string(geteuid()) + ".lock";
    fd_.Reset(shm_open(name.c_str(), O_RDWR | O_CREAT, 0600));
    if (fd_.Get() < 0) {
        Fail(error, ErrnoText("cannot open the event lock " + name, errno));
        return false;
    }
    struct stat st{};
    if (!ClaimObject(fd_.Get(), "the event lock " + name, &st, error))
        return false;
    if (FlockRetry(fd_.Get(), LOCK_EX) != 0) {
        Fail(error, ErrnoText("cannot lock the event lock " + name, errno));
        return false;
    }
    return true;
}

}  // namespace platform::event
