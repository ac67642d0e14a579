// Internal to the named events: the two steps every shared-memory object of this
// user goes through (the events and their lock): claiming it once opened, and flock
// on it.
#pragma once

#include <string>

#include <sys/stat.h>

namespace platform::event {

// Makes a freshly opened shared-memory object private to this user: it must belong
// to us, and its mode is forced to 0600 whatever the umask was. *st gets its status.
bool ClaimObject(int fd, const std::string& what, struct stat* st, std::string* error);
// flock, retried when a signal interrupts it.
int FlockRetry(int fd, int operation);

}  // namespace platform::event
