// The per-user single-instance lock: an exclusive flock on "tavrec.lock" in
// $XDG_RUNTIME_DIR, or on "tavrec-<uid>.lock" in /tmp when that is unset. The kernel
// drops the lock when the process ends, however it ends, so a crashed instance never
// blocks the next one. The descriptor is opened O_CLOEXEC: programs we start (the
// encoding wizard, the media player) must not inherit and so keep the lock.
#pragma once

#include <string>

class SingleInstance {
public:
    // Takes the lock if it is free. Throws std::runtime_error with
    // "Program is already running." when another instance holds it, or with the
    // reason when the lock file cannot be opened.
    SingleInstance();
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    static std::string LockPath();

private:
    int fd_ = -1;
};
