// A thread with a readable exit code: kStillActive until it ends, then the value
// its function returned (1 when it threw). It runs with all signals blocked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform {

inline constexpr uint32_t kStillActive = 259;

class Thread {
public:
    using Function = uint32_t (*)(void* argument);

    // Starts fn(argument) at once. Null when the thread cannot be created.
    static std::unique_ptr<Thread> Start(Function fn, void* argument);
    ~Thread();  // joins if still joinable
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // kStillActive while running, then the function's result.
    uint32_t ExitCode() const;
    // Kernel thread id (gettid), 0 before the thread has started.
    uint32_t Id() const;
    // True once the thread has ended (it is then joined), false on time-out.
    bool Join(uint32_t timeoutMs = 0xFFFFFFFFu);
    // Waits until any of the threads has ended: its index, or -1 on time-out
    // (-2 for no threads, a null entry or more than 64).
    static int WaitAny(Thread* const* threads, size_t count, uint32_t timeoutMs = 0xFFFFFFFFu);

    struct Impl;

private:
    explicit Thread(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
