// Internal to the named events: the per-user lock that serialises opening and closing
// of named events, so that "am I the only holder?" and the re-initialisation or
// removal that follows are one step. The kernel drops it when the process dies.
#pragma once

#include <string>

#include "platform/UniqueFd.h"

namespace platform::event {

class UserLock {
public:
    // Takes the lock (held until the object goes); false with the reason in *error.
    bool Acquire(std::string* error);

private:
    UniqueFd fd_;
};

}  // namespace platform::event
