// Manual- or auto-reset events that threads and processes share by name.
//
// A named event lives in a POSIX shared-memory object "/<name>.<uid>" (mode 0600), so
// names are private to the user: another user can neither drive nor block them.
// The object's state word is a futex; waiting for several events at once uses
// futex_waitv, or, on kernels without it (before 5.16) or with TAVREC_NO_FUTEX_WAITV
// set, the user's EventChangeCounter that every Set advances. Holders keep a shared flock on the object: when the last live holder
// closes it (or dies), the event disappears, and an event re-created after all its
// holders died starts reset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;

class NamedEvent {
public:
    enum class WaitResult { Signaled, Timeout, Failed };

    // Creates the event (manual reset, not set) or opens the existing one of that name.
    // Null on failure, with the reason in *error when given.
    static std::unique_ptr<NamedEvent> CreateOrOpen(const std::string& name, std::string* error = nullptr);
    // Opens an existing event only; null when no live holder has it.
    static std::unique_ptr<NamedEvent> OpenExisting(const std::string& name, std::string* error = nullptr);
    // An event of this process only (no name), manual or automatic reset.
    static std::unique_ptr<NamedEvent> CreateUnnamed(bool manualReset, std::string* error = nullptr);

    ~NamedEvent();
    NamedEvent(const NamedEvent&) = delete;
    NamedEvent& operator=(const NamedEvent&) = delete;

    bool Set();
    bool Reset();
    // 1 set, 0 not set, -1 the state cannot be read.
    int State() const;
    // Waits until set (an auto-reset event is reset again by the wait that sees it).
    WaitResult Wait(uint32_t timeoutMs = kInfinite);
    // Waits until any of the events is set. Returns its index, -1 on time-out, -2 on failure.
    // At most 64 events; the lowest index that is set wins.
    static int WaitAny(NamedEvent* const* events, size_t count, uint32_t timeoutMs = kInfinite);
    // Why the last Set, Wait or WaitAny of the calling thread failed.
    static std::string LastError();

    const std::string& Name() const { return name_; }

    struct Impl;

private:
    explicit NamedEvent(std::unique_ptr<Impl> impl, std::string name);
    std::unique_ptr<Impl> impl_;
    std::string name_;
};

}  // namespace platform
