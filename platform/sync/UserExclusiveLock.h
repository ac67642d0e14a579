// An exclusive lock that the processes of one user take by name without waiting:
// flock(LOCK_EX | LOCK_NB) on the shared-memory object "/<name>.<uid>.lock", in the
// place and with the checks of the named events (our own object, mode 0600, never
// through a symbolic link). The kernel drops the lock when its holder closes it or
// dies, however it dies, so a crashed holder never keeps it. Every TryAcquire opens
// a description of its own, so two holders in one process exclude each other just
// as two processes do. The object stays in place when the lock is given back:
// removing it could let two openers lock two different objects of one name.
#pragma once

#include <string>

#include "platform/UniqueFd.h"

namespace platform {

class UserExclusiveLock {
public:
    enum class Outcome { Acquired, Busy, Failed };

    UserExclusiveLock() = default;
    UserExclusiveLock(const UserExclusiveLock&) = delete;
    UserExclusiveLock& operator=(const UserExclusiveLock&) = delete;

    // Takes the lock of that name when nobody holds it: Acquired, Busy when another
    // holder (in this process or another) has it, Failed with the reason in *error
    // when given. A lock already held by this object is given back first.
    Outcome TryAcquire(const std::string& name, std::string* error = nullptr);
    bool Held() const { return fd_.Valid(); }
    // Gives the lock back (also done when the object goes).
    void Release() { fd_.Reset(); }

private:
    UniqueFd fd_;
};

}  // namespace platform
