// links: tavrec_platform_sync
#include "platform/sync/NamedEvent.h"
#include "platform/sync/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <new>

using platform::NamedEvent;
using platform::Thread;

namespace {

// What a test thread does: note its id, wait for the go event, return `code`.
struct Job {
    std::unique_ptr<NamedEvent> go = NamedEvent::CreateUnnamed(true);
    uint32_t code = 0;
    std::atomic<uint32_t> seenId{0};
};

uint32_t RunJob(void* raw)
{
    auto* job = static_cast<Job*>(raw);
    job->seenId.store(static_cast<uint32_t>(gettid()));
    job->go->Wait();
    return job->code;
}

}  // namespace

TEST(Thread, ExitCodeIsStillActiveUntilTheFunctionReturns)
{
    for (uint32_t code : {0u, 1u}) {
        Job job;
        job.code = code;
        auto thread = Thread::Start(RunJob, &job);
        ASSERT_TRUE(thread);
        EXPECT_EQ(thread->ExitCode(), platform::kStillActive);
        EXPECT_FALSE(thread->Join(0));
        job.go->Set();
        EXPECT_TRUE(thread->Join());
        EXPECT_EQ(thread->ExitCode(), code);
        EXPECT_TRUE(thread->Join(0));  // joining again is harmless
    }
}

TEST(Thread, IdIsTheKernelThreadIdFromTheStart)
{
    Job job;
    auto thread = Thread::Start(RunJob, &job);
    ASSERT_TRUE(thread);
    const uint32_t id = thread->Id();
    EXPECT_NE(id, 0u);
    EXPECT_NE(id, static_cast<uint32_t>(gettid()));
    while (job.seenId.load() == 0)
        std::this_thread::yield();
    EXPECT_EQ(job.seenId.load(), id);
    job.go->Set();
    ASSERT_TRUE(thread->Join());
    EXPECT_EQ(thread->Id(), id);
}

TEST(Thread, JoinTimesOutWhileRunningAndNotEarly)
{
    Job job;
    auto thread = Thread::Start(RunJob, &job);
    ASSERT_TRUE(thread);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(thread->Join(100));
    const std::chrono::duration<double, std::milli> waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited.count(), 100.0);
    EXPECT_EQ(thread->ExitCode(), platform::kStillActive);
    job.go->Set();
    EXPECT_TRUE(thread->Join(platform::kInfinite));
}

TEST(Thread, WaitAnyGivesTheThreadThatEnded)
{
    Job jobs[3];
    std::unique_ptr<Thread> threads[3];
    for (int i = 0; i < 3; ++i) {
        jobs[i].code = static_cast<uint32_t>(i);
        threads[i] = Thread::Start(RunJob, &jobs[i]);
        ASSERT_TRUE(threads[i]);
    }
    Thread* all[] = {threads[0].get(), threads[1].get(), threads[2].get()};
    EXPECT_EQ(Thread::WaitAny(all, 3, 50), -1);

    // Another thread reads the exit codes all along: reading them must be race-free.
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop.load())
            for (auto* t : all)
                (void)(t->ExitCode() + t->Id());
    });
    jobs[1].go->Set();
    EXPECT_EQ(Thread::WaitAny(all, 3), 1);
    EXPECT_EQ(threads[1]->ExitCode(), 1u);
    Thread* others[] = {threads[0].get(), threads[2].get()};
    EXPECT_EQ(Thread::WaitAny(others, 2, 0), -1);
    jobs[2].go->Set();
    EXPECT_EQ(Thread::WaitAny(others, 2), 1);
    jobs[0].go->Set();
    ASSERT_TRUE(threads[0]->Join());
    EXPECT_EQ(Thread::WaitAny(others, 2, 0), 0);  // both ended: the lower index wins
    stop.store(true);
    reader.join();

    EXPECT_EQ(Thread::WaitAny(all, 0, 0), -2);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(threads[i]->ExitCode(), static_cast<uint32_t>(i));
}

TEST(Thread, DestroyingARunningThreadWaitsForIt)
{
    Job job;
    job.code = 1;
    auto thread = Thread::Start(RunJob, &job);
    ASSERT_TRUE(thread);
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        job.go->Set();
    });
    thread.reset();  // must not return while RunJob still uses `job`
    EXPECT_EQ(job.go->State(), 1);
    releaser.join();
    EXPECT_FALSE(Thread::Start(nullptr, nullptr));
}

namespace {

uint32_t ThrowOutOfMemory(void*)
{
    throw std::bad_alloc();
}

uint32_t ThrowAnything(void*)
{
    throw 7;
}

// Reads the calling thread's blocked-signal mask as the kernel reports it.
uint32_t BlockedSignals(void* out)
{
    sigset_t mask;
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    *static_cast<bool*>(out) = sigismember(&mask, SIGINT) && sigismember(&mask, SIGTERM) && sigismember(&mask, SIGHUP);
    return 0;
}

}  // namespace

TEST(Thread, AThrownExceptionEndsTheThreadWith1NotTheProgram)
{
    for (Thread::Function fn : {ThrowOutOfMemory, ThrowAnything}) {
        auto thread = Thread::Start(fn, nullptr);
        ASSERT_TRUE(thread);
        ASSERT_TRUE(thread->Join(5000));
        EXPECT_EQ(thread->ExitCode(), 1u);
    }
}

TEST(Thread, RunsWithTheProgramsSignalsBlocked)
{
    bool blocked = false;
    auto thread = Thread::Start(BlockedSignals, &blocked);
    ASSERT_TRUE(thread && thread->Join(5000));
    EXPECT_TRUE(blocked);
    sigset_t mine;
    pthread_sigmask(SIG_SETMASK, nullptr, &mine);
    EXPECT_FALSE(sigismember(&mine, SIGINT)) << "the starting thread's mask is left as it was";
}
