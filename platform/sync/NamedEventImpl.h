// Internal to the named events: the layout of an event's state and what an open
// event holds (its mapping of that state, and for a named event the shared-memory
// object it holds).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include <sys/types.h>

#include "platform/sync/NamedEvent.h"

namespace platform::event {

// The event's state is one 32-bit futex word: bit 0 is "set", bits 1..31 count the
// Sets. A manual-reset waiter is released by any Set that happened after it began to
// wait, even when the event was reset again before the waiter ran.
inline constexpr uint32_t kSetBit = 1u;
inline constexpr uint32_t kMagic = 0x544E5645u;  // "EVNT"
inline constexpr uint32_t kVersion = 1u;

// The layout of the shared-memory object (and of an unnamed event's heap block).
struct EventState {
    uint32_t word;
    uint32_t magic;
    uint32_t version;
    uint32_t manualReset;
};
inline constexpr off_t kObjectSize = 64;
static_assert(sizeof(EventState) <= static_cast<size_t>(kObjectSize));

}  // namespace platform::event

namespace platform {

struct NamedEvent::Impl {
    event::EventState* state = nullptr;
    bool manualReset = true;
    bool processPrivate = false;  // unnamed: private futex operations
    int fd = -1;                  // named: the shared-memory object, holding LOCK_SH
    pid_t ownerPid = 0;           // a forked child must not act as a holder of its own
    std::string objectName;       // "/<name>.<uid>"

    Impl() = default;
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;
    // Unmaps the state; a named event's last live holder also removes the object.
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
            return (current & event::kSetBit) != 0 || ((current ^ observed) & ~event::kSetBit) != 0;
        while (current & event::kSetBit) {
            if (word.compare_exchange_weak(current, current & ~event::kSetBit, std::memory_order_acq_rel,
                                           std::memory_order_acquire))
                return true;
        }
        return false;
    }
};

}  // namespace platform
