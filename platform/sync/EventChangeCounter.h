// A per-user counter that every Set of an event (named or not) advances, so that one
// futex word can stand for "some event changed". Waiting for several events uses it
// where the kernel has no futex_waitv (before Linux 5.16): the waiter reads the
// counter, checks its events, and sleeps on the counter until it moves.
#pragma once

#include <cstdint>
#include <ctime>

namespace platform {

class EventChangeCounter {
public:
    // The counter shared by this user's processes ("/tavrec-events.<uid>.changes");
    // a process-local one when the shared object cannot be made.
    static EventChangeCounter& Instance();

    uint32_t Load() const;
    // Advances the counter and wakes every waiter; called after an event was set.
    void Advance();
    // Sleeps until the counter differs from `seen`, or until the absolute
    // CLOCK_MONOTONIC time `deadline` (null: no limit). 0 when woken, else errno
    // (EAGAIN: it had already moved, ETIMEDOUT, EINTR, ...).
    int WaitForChange(uint32_t seen, const timespec* deadline) const;

    EventChangeCounter(const EventChangeCounter&) = delete;
    EventChangeCounter& operator=(const EventChangeCounter&) = delete;

private:
    EventChangeCounter();
    uint32_t* word_ = nullptr;
    bool processPrivate_ = false;
    uint32_t localWord_ = 0;
};

}  // namespace platform
