#include "platform/sync/NamedEvent.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <linux/futex.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/UniqueFd.h"
#include "platform/sync/EventChangeCounter.h"

namespace platform {

namespace {

// The event's state is one 32-bit futex word: bit 0 is "set", bits 1..31 count the
// Sets. A manual-reset waiter is released by any Set that happened after it began to
// wait, even when the event was reset again before the waiter ran.
constexpr uint32_t kSetBit = 1u;
constexpr uint32_t kMagic = 0x544E5645u;  // "EVNT"
constexpr uint32_t kVersion = 1u;
// As many events as one wait may watch (the kernel's limit is higher).
constexpr size_t kMaxWaitEvents = 64;

// The layout of the shared-memory object (and of an unnamed event's heap block).
struct EventState {
    uint32_t word;
    uint32_t magic;
    uint32_t version;
    uint32_t manualReset;
};
constexpr off_t kObjectSize = 64;
static_assert(sizeof(EventState) <= static_cast<size_t>(kObjectSize));

thread_local std::string t_lastError;

void Fail(std::string* error, std::string text)
{
    if (error)
        *error = text;
    t_lastError = std::move(text);
}

std::string ErrnoText(const std::string& what, int err)
{
    return what + ": " + std::strerror(err);
}

int FlockRetry(int fd, int operation)
{
    int rc;
    do {
        rc = flock(fd, operation);
    } while (rc != 0 && errno == EINTR);
    return rc;
}

// Makes a freshly opened shared-memory object private to this user: it must belong
// to us, and its mode is forced to 0600 whatever the umask was.
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

// The per-user lock that serialises opening and closing of named events, so that
// "am I the only holder?" and the re-initialisation or removal that follows are one
// step. The kernel drops it when the process dies.
class UserLock {
public:
    bool Acquire(std::string* error)
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

private:
    UniqueFd fd_;
};

struct Deadline {
    bool infinite = true;
    timespec at{};
};

Deadline DeadlineAfter(uint32_t timeoutMs)
{
    Deadline d;
    if (timeoutMs == kInfinite)
        return d;
    d.infinite = false;
    clock_gettime(CLOCK_MONOTONIC, &d.at);
    d.at.tv_sec += timeoutMs / 1000;
    d.at.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (d.at.tv_nsec >= 1000000000L) {
        d.at.tv_nsec -= 1000000000L;
        ++d.at.tv_sec;
    }
    return d;
}

long FutexWait(uint32_t* word, uint32_t expected, const Deadline& deadline, bool processPrivate)
{
    // WAIT_BITSET takes an absolute CLOCK_MONOTONIC time-out, so signals and spurious
    // wake-ups need no re-computation of the remaining time.
    const int op = FUTEX_WAIT_BITSET | (processPrivate ? FUTEX_PRIVATE_FLAG : 0);
    return syscall(SYS_futex, word, op, expected, deadline.infinite ? nullptr : &deadline.at, nullptr,
                   FUTEX_BITSET_MATCH_ANY);
}

// Whether waits for several events go through the change counter instead of
// futex_waitv: set when the kernel lacks futex_waitv, or from the start when
// TAVREC_NO_FUTEX_WAITV is set to anything but "" or "0" (read once, for tests).
std::atomic<bool>& UseChangeCounter()
{
    static std::atomic<bool> use{[] {
        const char* value = std::getenv("TAVREC_NO_FUTEX_WAITV");
        return value && *value && std::strcmp(value, "0") != 0;
    }()};
    return use;
}

long FutexWakeAll(uint32_t* word, bool processPrivate)
{
    const int op = FUTEX_WAKE | (processPrivate ? FUTEX_PRIVATE_FLAG : 0);
    return syscall(SYS_futex, word, op, INT_MAX, nullptr, nullptr, 0);
}

}  // namespace

struct NamedEvent::Impl {
    EventState* state = nullptr;
    bool manualReset = true;
    bool processPrivate = false;  // unnamed: private futex operations
    int fd = -1;                  // named: the shared-memory object, holding LOCK_SH
    pid_t ownerPid = 0;           // a forked child must not act as a holder of its own
    std::string objectName;       // "/<name>.<uid>"

    Impl() = default;
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;
    ~Impl();

    std::atomic_ref<uint32_t> Word() const { return std::atomic_ref<uint32_t>(state->word); }

    // True when this waiter is released: a manual event that is set or was set since
    // `observed`, or an auto-reset event this call managed to reset. `current` gets
    // the word to wait on otherwise.
    bool TryTake(uint32_t observed, uint32_t& current) const
    {
        auto word = Word();
        current = word.load(std::memory_order_acquire);
        if (manualReset)
            return (current & kSetBit) != 0 || ((current ^ observed) & ~kSetBit) != 0;
        while (current & kSetBit) {
            if (word.compare_exchange_weak(current, current & ~kSetBit, std::memory_order_acq_rel,
                                           std::memory_order_acquire))
                return true;
        }
        return false;
    }
};

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

NamedEvent::NamedEvent(std::unique_ptr<Impl> impl, std::string name) : impl_(std::move(impl)), name_(std::move(name)) {}

NamedEvent::~NamedEvent() = default;

namespace {

std::unique_ptr<NamedEvent::Impl> OpenNamedImpl(const std::string& name, bool create, std::string* error)
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

}  // namespace

std::unique_ptr<NamedEvent> NamedEvent::CreateOrOpen(const std::string& name, std::string* error)
{
    auto impl = OpenNamedImpl(name, true, error);
    if (!impl)
        return nullptr;
    return std::unique_ptr<NamedEvent>(new NamedEvent(std::move(impl), name));
}

std::unique_ptr<NamedEvent> NamedEvent::OpenExisting(const std::string& name, std::string* error)
{
    auto impl = OpenNamedImpl(name, false, error);
    if (!impl)
        return nullptr;
    return std::unique_ptr<NamedEvent>(new NamedEvent(std::move(impl), name));
}

std::unique_ptr<NamedEvent> NamedEvent::CreateUnnamed(bool manualReset, std::string* /*error*/)
{
    auto impl = std::make_unique<Impl>();
    impl->state = new EventState{0, kMagic, kVersion, manualReset ? 1u : 0u};
    impl->manualReset = manualReset;
    impl->processPrivate = true;
    return std::unique_ptr<NamedEvent>(new NamedEvent(std::move(impl), std::string()));
}

bool NamedEvent::Set()
{
    auto word = impl_->Word();
    uint32_t current = word.load(std::memory_order_acquire);
    do {
        if (current & kSetBit)
            return true;  // already set: nobody is waiting for this word
    } while (!word.compare_exchange_weak(current, (current + 2u) | kSetBit, std::memory_order_acq_rel,
                                         std::memory_order_acquire));
    // Wake every waiter: each re-checks, and of an auto-reset event only the one that
    // resets it is released. Waking one would lose the Set when that waiter leaves
    // through another event of a multiple wait.
    if (FutexWakeAll(&impl_->state->word, impl_->processPrivate) < 0) {
        t_lastError = ErrnoText("cannot wake the waiters of event \"" + name_ + "\"", errno);
        return false;
    }
    EventChangeCounter::Instance().Advance();
    return true;
}

bool NamedEvent::Reset()
{
    impl_->Word().fetch_and(~kSetBit, std::memory_order_acq_rel);
    return true;
}

int NamedEvent::State() const
{
    if (!impl_ || !impl_->state)
        return -1;
    return (impl_->Word().load(std::memory_order_acquire) & kSetBit) ? 1 : 0;
}

NamedEvent::WaitResult NamedEvent::Wait(uint32_t timeoutMs)
{
    const uint32_t observed = impl_->Word().load(std::memory_order_acquire);
    const Deadline deadline = DeadlineAfter(timeoutMs);
    uint32_t current = 0;
    for (;;) {
        if (impl_->TryTake(observed, current))
            return WaitResult::Signaled;
        if (timeoutMs == 0)
            return WaitResult::Timeout;
        if (FutexWait(&impl_->state->word, current, deadline, impl_->processPrivate) == 0)
            continue;
        if (errno == ETIMEDOUT)
            return impl_->TryTake(observed, current) ? WaitResult::Signaled : WaitResult::Timeout;
        if (errno != EAGAIN && errno != EINTR) {
            t_lastError = ErrnoText("cannot wait for event \"" + name_ + "\"", errno);
            return WaitResult::Failed;
        }
    }
}

int NamedEvent::WaitAny(NamedEvent* const* events, size_t count, uint32_t timeoutMs)
{
    if (!events || count == 0 || count > kMaxWaitEvents) {
        t_lastError = "cannot wait for " + std::to_string(count) + " events: between 1 and " +
                      std::to_string(kMaxWaitEvents) + " are allowed";
        return -2;
    }
    uint32_t observed[kMaxWaitEvents];
    uint32_t current[kMaxWaitEvents];
    for (size_t i = 0; i < count; ++i) {
        if (!events[i] || !events[i]->impl_) {
            t_lastError = "cannot wait for a missing event (index " + std::to_string(i) + ")";
            return -2;
        }
        observed[i] = events[i]->impl_->Word().load(std::memory_order_acquire);
    }
    if (count == 1) {
        const WaitResult r = events[0]->Wait(timeoutMs);
        return r == WaitResult::Signaled ? 0 : r == WaitResult::Timeout ? -1 : -2;
    }
    const Deadline deadline = DeadlineAfter(timeoutMs);
    const timespec* at = deadline.infinite ? nullptr : &deadline.at;
    struct futex_waitv waiters[kMaxWaitEvents];
    for (;;) {
        // Read before the events are checked: a Set after the check moves it, so the
        // sleep below cannot miss that Set.
        const bool viaCounter = UseChangeCounter().load(std::memory_order_relaxed);
        const uint32_t changes = viaCounter ? EventChangeCounter::Instance().Load() : 0;
        // The lowest index that is (or was) set wins, as a multiple wait should.
        for (size_t i = 0; i < count; ++i) {
            if (events[i]->impl_->TryTake(observed[i], current[i]))
                return static_cast<int>(i);
        }
        if (timeoutMs == 0)
            return -1;
        long rc;
        if (viaCounter) {
            const int err = EventChangeCounter::Instance().WaitForChange(changes, at);
            rc = err == 0 ? 0 : -1;
            errno = err;
        } else {
            for (size_t i = 0; i < count; ++i) {
                const Impl& impl = *events[i]->impl_;
                waiters[i].val = current[i];
                waiters[i].uaddr = reinterpret_cast<uintptr_t>(&impl.state->word);
                waiters[i].flags = FUTEX_32 | (impl.processPrivate ? FUTEX_PRIVATE_FLAG : 0);
                waiters[i].__reserved = 0;
            }
            rc = syscall(SYS_futex_waitv, waiters, static_cast<unsigned>(count), 0u, at, CLOCK_MONOTONIC);
            if (rc < 0 && errno == ENOSYS) {
                // A kernel before 5.16: from now on every wait goes through the counter.
                UseChangeCounter().store(true, std::memory_order_relaxed);
                continue;
            }
        }
        if (rc >= 0 || errno == EAGAIN || errno == EINTR)
            continue;
        if (errno == ETIMEDOUT) {
            for (size_t i = 0; i < count; ++i) {
                if (events[i]->impl_->TryTake(observed[i], current[i]))
                    return static_cast<int>(i);
            }
            return -1;
        }
        t_lastError = ErrnoText("cannot wait for several events", errno);
        return -2;
    }
}

std::string NamedEvent::LastError()
{
    return t_lastError;
}

}  // namespace platform
