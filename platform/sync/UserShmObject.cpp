#include "platform/sync/UserShmObject.h"

#include <cerrno>

#include <sys/file.h>
#include <unistd.h>

#include "platform/sync/EventError.h"

namespace platform::event {

int FlockRetry(int fd, int operation)
{
    int rc;
    do {
        rc = flock(fd, operation);
    } while (rc != 0 && errno == EINTR);
    return rc;
}

bool ClaimObject(int fd, const std::string& what, struct stat* st, std::string* error)
{
    if (fstat(fd, st) != 0) {
        Fail(error, ErrnoText("cannot inspect " + what, errno));
        return false;
    }
    if (st->st_uid != geteuid()) {
        Fail(error, what + " belongs to user " + std::to_string(st->st_uid) + ", not to this user");
        return false;
    }
    if ((st->st_mode & 07777) != 0600 && fchmod(fd, 0600) != 0) {
        Fail(error, ErrnoText("cannot set the mode of " + what, errno));
        return false;
    }
    return true;
}

}  // namespace platform::event
