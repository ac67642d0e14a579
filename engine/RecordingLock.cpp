#include "engine/RecordingLock.h"

#include <mutex>

#include "platform/sync/UserExclusiveLock.h"

namespace korvid {

namespace {

constexpr const char* kLockName = "tavrec-recording";

struct Slot {
    std::mutex guard;
    platform::UserExclusiveLock lock;
};

Slot& TheSlot()
{
    static Slot slot;
    return slot;
}

}  // namespace

RecordingLock::Outcome RecordingLock::Acquire(std::string* error)
{
    Slot& slot = TheSlot();
    std::lock_guard<std::mutex> guard(slot.guard);
    if (slot.lock.Held())
        return Outcome::Busy;  // this process's recording runs
    switch (slot.lock.TryAcquire(kLockName, error)) {
    case platform::UserExclusiveLock::Outcome::Acquired:
        return Outcome::Acquired;
    case platform::UserExclusiveLock::Outcome::Busy:
        return Outcome::Busy;
    case platform::UserExclusiveLock::Outcome::Failed:
        break;
    }
    return Outcome::Failed;
}

void RecordingLock::Release()
{
    Slot& slot = TheSlot();
    std::lock_guard<std::mutex> guard(slot.guard);
    slot.lock.Release();
}

}  // namespace korvid
