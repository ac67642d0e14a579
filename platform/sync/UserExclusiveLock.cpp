#include "platform/sync/UserExclusiveLock.h"

#include <cerrno>
#include <climits>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/sync/EventError.h"
#include "platform/sync/UserShmObject.h"

namespace platform {

using namespace event;

UserExclusiveLock::Outcome UserExclusiveLock::TryAcquire(const std::string& name, std::string* error)
{
    fd_.Reset();
    if (name.empty() || name.find('/') != std::string::npos || name.find('\0') != std::string::npos) {
        Fail(error, "invalid lock name \"" + name + "\": it must be non-empty and contain no '/'");
        return Outcome::Failed;
    }
    const std::string objectName = "/" + name + "." + std::to_string(geteuid()) + ".lock";
    if (objectName.size() > NAME_MAX) {
        Fail(error, "lock name \"" + name + "\" is too long");
        return Outcome::Failed;
    }
    const std::string what = "the lock " + objectName;
    // shm_open opens with O_NOFOLLOW and O_CLOEXEC: no planted link is followed, and
    // programs started from here do not inherit (and so keep) the lock.
    UniqueFd fd(shm_open(objectName.c_str(), O_RDWR | O_CREAT, 0600));
    if (!fd.Valid()) {
        Fail(error, ErrnoText("cannot open " + what, errno));
        return Outcome::Failed;
    }
    struct stat st{};
    if (!ClaimObject(fd.Get(), what, &st, error))
        return Outcome::Failed;
    if (!S_ISREG(st.st_mode)) {
        Fail(error, what + " is not a plain object");
        return Outcome::Failed;
    }
    if (FlockRetry(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            return Outcome::Busy;
        Fail(error, ErrnoText("cannot lock " + what, errno));
        return Outcome::Failed;
    }
    fd_.Reset(fd.Release());
    return Outcome::Acquired;
}

}  // namespace platform
