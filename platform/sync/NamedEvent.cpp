// The event's state word and its waits (one event, or several at once); the
// shared-memory object and its holders are in NamedEventObject.cpp.
#include "platform/sync/NamedEvent.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/sync/EventChangeCounter.h"
#include "platform/sync/EventError.h"
#include "platform/sync/NamedEventImpl.h"
#include "platform/sync/NamedEventObject.h"

namespace platform {

using namespace event;

namespace {

// As many events as one wait may watch (the kernel's limit is higher).
constexpr size_t kMaxWaitEvents = 64;

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

NamedEvent::NamedEvent(std::unique_ptr<Impl> impl, std::string name) : impl_(std::move(impl)), name_(std::move(name)) {}

NamedEvent::~NamedEvent() = default;

std::unique_ptr<NamedEvent> NamedEvent::CreateOrOpen(const std::string& name, std::string* error)
{
    auto impl = OpenNamedEventObject(name, true, error);
    if (!impl)
        return nullptr;
    return std::unique_ptr<NamedEvent>(new NamedEvent(std::move(impl), name));
}

std::unique_ptr<NamedEvent> NamedEvent::OpenExisting(const std::string& name, std::string* error)
{
    auto impl = OpenNamedEventObject(name, false, error);
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
        SetLastError(ErrnoText("cannot wake the waiters of event \"" + name_ + "\"", errno));
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
            SetLastError(ErrnoText("cannot wait for event \"" + name_ + "\"", errno));
            return WaitResult::Failed;
        }
    }
}

int NamedEvent::WaitAny(NamedEvent* const* events, size_t count, uint32_t timeoutMs)
{
    if (!events || count == 0 || count > kMaxWaitEvents) {
        SetLastError("cannot wait for " + std::to_string(count) + " events: between 1 and " +
                     std::to_string(kMaxWaitEvents) + " are allowed");
        return -2;
    }
    uint32_t observed[kMaxWaitEvents];
    uint32_t current[kMaxWaitEvents];
    for (size_t i = 0; i < count; ++i) {
        if (!events[i] || !events[i]->impl_) {
            SetLastError("cannot wait for a missing event (index " + std::to_string(i) + ")");
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
        SetLastError(ErrnoText("cannot wait for several events", errno));
        return -2;
    }
}

std::string NamedEvent::LastError()
{
    return event::LastError();
}

}  // namespace platform
