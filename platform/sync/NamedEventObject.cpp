#include "platform/sync/NamedEventObject.h"

#include <cerrno>
#include <climits>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/UniqueFd.h"
#include "platform/sync/EventError.h"
#include "platform/sync/EventUserLock.h"
#include "platform/sync/UserShmObject.h"

namespace platform {

using namespace event;

NamedEvent::Impl::~Impl()
{
    if (fd < 0) {
        delete state;
        return;
    }
    UserLock lock;
    const bool locked = lock.Acquire(nullptr);
    if (state)
        munmap(state, kObjectSize);
    // The last live holder removes the object, so the name is free again. Without the
    // user lock we leave it: the next opener finds no holder and re-initialises it.
    if (locked && ownerPid == getpid() && FlockRetry(fd, LOCK_EX | LOCK_NB) == 0) {
        UniqueFd current(shm_open(objectName.c_str(), O_RDONLY, 0));
        struct stat mine{}, named{};
        if (current.Get() >= 0 && fstat(fd, &mine) == 0 && fstat(current.Get(), &named) == 0 &&
            mine.st_dev == named.st_dev && mine.st_ino == named.st_ino)
            shm_unlink(objectName.c_str());
    }
    close(fd);
}

namespace event {

std::unique_ptr<NamedEvent::Impl> OpenNamedEventObject(const std::string& name, bool create, std::string* error)
{
    if (name.empty() || name.find('/') != std::string::npos || name.find('\0') != std::string::npos) {
        Fail(error, "invalid event name \"" + name + "\": it must be non-empty and contain no '/'");
        return nullptr;
    }
    const std::string objectName = "/" + name + "." + std::to_string(geteuid());
    if (objectName.size() > NAME_MAX) {
        Fail(error, "event name \"" + name + "\" is too long");
        return nullptr;
    }
    const std::string what = "event \"" + name + "\" (" + objectName + ")";

    UserLock lock;
    if (!lock.Acquire(error))
        return nullptr;

    UniqueFd fd(shm_open(objectName.c_str(), O_RDWR | (create ? O_CREAT : 0), 0600));
    if (fd.Get() < 0) {
        if (!create && errno == ENOENT)
            Fail(error, what + " does not exist");
        else
            Fail(error, ErrnoText("cannot open " + what, errno));
        return nullptr;
    }
    struct stat st{};
    if (!ClaimObject(fd.Get(), what, &st, error))
        return nullptr;

    // No other open holder: whatever the object holds was left by holders that died.
    bool alone = FlockRetry(fd.Get(), LOCK_EX | LOCK_NB) == 0;
    if (!alone && errno != EWOULDBLOCK) {
        Fail(error, ErrnoText("cannot lock " + what, errno));
        return nullptr;
    }
    if (alone && !create) {
        shm_unlink(objectName.c_str());
        Fail(error, what + " has no live holder");
        return nullptr;
    }
    if (alone && st.st_size != kObjectSize && ftruncate(fd.Get(), kObjectSize) != 0) {
        Fail(error, ErrnoText("cannot size " + what, errno));
        shm_unlink(objectName.c_str());
        return nullptr;
    }
    if (!alone && st.st_size != kObjectSize) {
        Fail(error, what + " is not an event (size " + std::to_string(st.st_size) + ")");
        return nullptr;
    }
    void* mapping = mmap(nullptr, kObjectSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd.Get(), 0);
    if (mapping == MAP_FAILED) {
        Fail(error, ErrnoText("cannot map " + what, errno));
        if (alone)
            shm_unlink(objectName.c_str());
        return nullptr;
    }
    EventState* state = static_cast<EventState*>(mapping);
    if (alone) {
        std::atomic_ref<uint32_t>(state->word).store(0, std::memory_order_relaxed);
        state->magic = kMagic;
        state->version = kVersion;
        state->manualReset = 1;
    } else if (state->magic != kMagic || state->version != kVersion || state->manualReset != 1) {
        Fail(error, what + " is not an event of this program's version");
        munmap(mapping, kObjectSize);
        return nullptr;
    }
    // Downgrade (or take) the holder's shared lock. The user lock keeps this step
    // from racing with other openers and closers.
    if (FlockRetry(fd.Get(), LOCK_SH | LOCK_NB) != 0) {
        Fail(error, ErrnoText("cannot hold " + what, errno));
        munmap(mapping, kObjectSize);
        if (alone)
            shm_unlink(objectName.c_str());
        return nullptr;
    }
    auto impl = std::make_unique<NamedEvent::Impl>();
    impl->state = state;
    impl->objectName = objectName;
    impl->ownerPid = getpid();
    impl->manualReset = true;
    impl->fd = fd.Release();
    return impl;
}

}  // namespace event

}  // namespace platform
