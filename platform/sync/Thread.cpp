#include "platform/sync/Thread.h"

#include "platform/sync/NamedEvent.h"

#include <atomic>
#include <mutex>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

namespace platform {

namespace {

// What the running thread and its owner share. The thread keeps its own reference,
// so the owner may drop the Thread object (even from inside the thread) at any time.
struct ThreadState {
    Thread::Function fn = nullptr;
    void* argument = nullptr;
    std::atomic<uint32_t> exitCode{kStillActive};
    std::atomic<uint32_t> id{0};
    std::unique_ptr<NamedEvent> ended;  // manual reset, set once fn has returned
};

void* ThreadEntry(void* raw)
{
    auto* handle = static_cast<std::shared_ptr<ThreadState>*>(raw);
    const std::shared_ptr<ThreadState> state = std::move(*handle);
    delete handle;
    state->id.store(static_cast<uint32_t>(gettid()), std::memory_order_release);
    state->id.notify_all();
    // Nothing thrown may leave the thread (that would end the whole program): a
    // function that throws, out of memory or otherwise, has failed.
    uint32_t code = 1;
    try {
        code = state->fn(state->argument);
    } catch (...) {
        code = 1;
    }
    state->exitCode.store(code, std::memory_order_release);
    state->ended->Set();
    return nullptr;
}

}  // namespace

struct Thread::Impl {
    std::shared_ptr<ThreadState> state;
    pthread_t handle{};
    std::mutex joinMutex;
    bool joined = false;
};

Thread::Thread(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

std::unique_ptr<Thread> Thread::Start(Function fn, void* argument)
{
    if (!fn)
        return nullptr;
    auto state = std::make_shared<ThreadState>();
    state->fn = fn;
    state->argument = argument;
    state->ended = NamedEvent::CreateUnnamed(true);
    if (!state->ended)
        return nullptr;

    auto impl = std::make_unique<Impl>();
    impl->state = state;
    auto* handle = new std::shared_ptr<ThreadState>(state);
    // The new thread starts with every signal blocked, so that the program's signals
    // (Ctrl-C, SIGTERM, SIGHUP) go to its own threads and never interrupt a write or
    // a wait of ours. Faults (SIGSEGV and the like) are delivered all the same.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    const int created = pthread_create(&impl->handle, nullptr, ThreadEntry, handle);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (created != 0) {
        delete handle;
        return nullptr;
    }
    // Callers expect the id right away, as from a thread that "runs at once".
    state->id.wait(0, std::memory_order_acquire);
    return std::unique_ptr<Thread>(new Thread(std::move(impl)));
}

Thread::~Thread()
{
    std::lock_guard<std::mutex> guard(impl_->joinMutex);
    if (impl_->joined)
        return;
    if (impl_->state->id.load(std::memory_order_acquire) == static_cast<uint32_t>(gettid()))
        pthread_detach(impl_->handle);  // deleted by its own thread: it cannot join itself
    else
        pthread_join(impl_->handle, nullptr);
    impl_->joined = true;
}

uint32_t Thread::ExitCode() const
{
    return impl_->state->exitCode.load(std::memory_order_acquire);
}

uint32_t Thread::Id() const
{
    return impl_->state->id.load(std::memory_order_acquire);
}

bool Thread::Join(uint32_t timeoutMs)
{
    if (Id() == static_cast<uint32_t>(gettid()))
        return false;  // a thread never ends while waiting for itself
    if (impl_->state->ended->Wait(timeoutMs) != NamedEvent::WaitResult::Signaled)
        return false;
    std::lock_guard<std::mutex> guard(impl_->joinMutex);
    if (!impl_->joined) {
        pthread_join(impl_->handle, nullptr);  // the function has returned: this is brief
        impl_->joined = true;
    }
    return true;
}

int Thread::WaitAny(Thread* const* threads, size_t count, uint32_t timeoutMs)
{
    constexpr size_t kMax = 64;
    if (!threads || count == 0 || count > kMax)
        return -2;
    NamedEvent* events[kMax];
    for (size_t i = 0; i < count; ++i) {
        if (!threads[i])
            return -2;
        events[i] = threads[i]->impl_->state->ended.get();
    }
    const int index = NamedEvent::WaitAny(events, count, timeoutMs);
    return index >= -1 ? index : -2;
}

}  // namespace platform
