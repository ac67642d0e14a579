// links: tavrec_platform_sync tavrec_support_NoFutexWaitv
// Events shared by threads and by real processes: the test binary runs itself as the
// other process, with its role in TAVREC_EVENT_TEST_ROLE (as another user, a forked
// copy runs the role directly).
#include "platform/sync/NamedEvent.h"
#include "tests/support/NoFutexWaitv.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using platform::NamedEvent;
using WaitResult = platform::NamedEvent::WaitResult;

namespace {

constexpr const char* kRoleVariable = "TAVREC_EVENT_TEST_ROLE";
constexpr uid_t kNobody = 65534;

void SignalReady()
{
    [[maybe_unused]] ssize_t n = write(STDOUT_FILENO, "r", 1);
}

std::string ShmPath(const std::string& name, uid_t uid = geteuid())
{
    return "/dev/shm/" + name + "." + std::to_string(uid);
}

// The other process's side. Exit codes: 0 released, 1 time-out, 3 could not open,
// 10 + index for a multiple wait.
int RunRole(const std::string& line)
{
    std::istringstream in(line);
    std::string role, a, b;
    in >> role >> a >> b;
    std::string error;
    if (role == "wait") {
        auto event = NamedEvent::OpenExisting(a, &error);
        if (!event)
            return fprintf(stderr, "%s\n", error.c_str()), 3;
        SignalReady();
        return event->Wait() == WaitResult::Signaled ? 0 : 1;
    }
    if (role == "waitany") {
        auto unnamed = NamedEvent::CreateUnnamed(false);
        auto first = NamedEvent::OpenExisting(a, &error);
        auto second = NamedEvent::OpenExisting(b, &error);
        if (!first || !second)
            return fprintf(stderr, "%s\n", error.c_str()), 3;
        NamedEvent* events[] = {unnamed.get(), first.get(), second.get()};
        SignalReady();
        return 10 + NamedEvent::WaitAny(events, 3);
    }
    if (role == "waitany-old-kernel") {
        // As on a kernel without futex_waitv: first an unnamed event set by a thread of
        // this process, then the named one set by the parent.
        if (!testkit::DenyFutexWaitv())
            return 4;
        auto unnamed = NamedEvent::CreateUnnamed(false);
        auto first = NamedEvent::OpenExisting(a, &error);
        auto second = NamedEvent::OpenExisting(b, &error);
        if (!first || !second)
            return fprintf(stderr, "%s\n", error.c_str()), 3;
        NamedEvent* events[] = {unnamed.get(), first.get(), second.get()};
        std::thread setter([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            unnamed->Set();
        });
        const int byThread = NamedEvent::WaitAny(events, 3);
        setter.join();
        if (byThread != 0)
            return fprintf(stderr, "%s\n", NamedEvent::LastError().c_str()), 20 + byThread;
        if (NamedEvent::WaitAny(events, 3, 50) != -1)
            return 30;
        SignalReady();
        return 10 + NamedEvent::WaitAny(events, 3);
    }
    if (role == "hold-set") {
        auto event = NamedEvent::CreateOrOpen(a, &error);
        if (!event || !event->Set())
            return fprintf(stderr, "%s\n", error.c_str()), 3;
        SignalReady();
        for (;;)
            pause();
    }
    if (role == "other-user") {
        // The first user's object under this name is set; ours must be a fresh one
        // that we cannot confuse with it, and theirs must be closed to us.
        if (shm_open(("/" + a + ".0").c_str(), O_RDWR, 0) >= 0 || errno != EACCES)
            return 4;
        auto event = NamedEvent::CreateOrOpen(a, &error);
        if (!event)
            return fprintf(stderr, "%s\n", error.c_str()), 3;
        struct stat st{};
        if (stat(ShmPath(a).c_str(), &st) != 0 || st.st_uid != geteuid())
            return 5;
        if (event->State() != 0)
            return 6;
        return event->Set() ? 0 : 7;
    }
    return 99;
}

[[maybe_unused]] const bool kRanAsChild = [] {
    const char* role = std::getenv(kRoleVariable);
    if (role)
        _exit(RunRole(role));
    return false;
}();

// Another process running this binary in a role; killed and reaped if still alive.
class Child {
public:
    explicit Child(const std::string& role, uid_t asUser = 0)
    {
        char exe[PATH_MAX] = {};
        if (readlink("/proc/self/exe", exe, sizeof(exe) - 1) <= 0)
            return;
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e)
            env.emplace_back(*e);
        env.push_back(std::string(kRoleVariable) + "=" + role);
        std::vector<char*> envp;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        char* argv[] = {exe, nullptr};
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            if (asUser != 0) {
                // The other user may not reach this binary (a clone inside a folder
                // closed to others): the forked copy runs the role without exec.
                if (setgroups(0, nullptr) != 0 || setgid(asUser) != 0 || setuid(asUser) != 0)
                    _exit(126);
                _exit(RunRole(role));
            }
            execve(exe, argv, envp.data());
            _exit(127);
        }
        close(out[1]);
        out_ = out[0];
    }
    ~Child()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0)
            close(out_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t Pid() const { return pid_; }
    // True once the child said it is ready (false when it ended first).
    bool WaitReady()
    {
        char c;
        return pid_ > 0 && read(out_, &c, 1) == 1;
    }
    void Kill() { kill(pid_, SIGKILL); }
    int Exit()
    {
        int status = 0;
        if (pid_ <= 0 || waitpid(pid_, &status, 0) != pid_)
            return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
};

// Returns once the thread sits in a futex wait (futex or futex_waitv), so that a
// following Set really has to wake it rather than being seen on the way in.
bool WaitUntilBlocked(pid_t pid, pid_t tid)
{
    const std::string path = "/proc/" + std::to_string(pid) + "/task/" + std::to_string(tid) + "/syscall";
    for (int i = 0; i < 20000; ++i) {
        std::ifstream in(path);
        long number = -1;
        if (in >> number && (number == 202 || number == 449))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

std::string UniqueName(const char* what)
{
    static int counter = 0;
    return "tavrec-test-" + std::to_string(getpid()) + "-" + std::to_string(++counter) + "-" + what;
}

// A thread blocked in Wait on an event; its result is read after Join.
struct Waiter {
    std::atomic<pid_t> tid{0};
    std::atomic<bool> done{false};
    WaitResult result = WaitResult::Failed;
    std::thread thread;

    explicit Waiter(NamedEvent* event)
        : thread([this, event] {
              tid.store(gettid());
              result = event->Wait();
              done.store(true);
          })
    {
    }
    bool Blocked()
    {
        while (tid.load() == 0)
            std::this_thread::yield();
        return WaitUntilBlocked(getpid(), tid.load());
    }
};

double MsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

TEST(NamedEventProcesses, SetWakesWaiterInAnotherProcess)
{
    const std::string name = UniqueName("wake");
    auto event = NamedEvent::CreateOrOpen(name);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->State(), 0);
    Child waiter("wait " + name);
    ASSERT_TRUE(waiter.WaitReady());
    ASSERT_TRUE(WaitUntilBlocked(waiter.Pid(), waiter.Pid()));
    ASSERT_TRUE(event->Set());
    EXPECT_EQ(waiter.Exit(), 0);
}

TEST(NamedEventProcesses, ManualResetReleasesEveryWaiterAndStaysSet)
{
    const std::string name = UniqueName("manual");
    auto event = NamedEvent::CreateOrOpen(name);
    auto second = NamedEvent::CreateOrOpen(name);  // a second holder in this process
    ASSERT_TRUE(event && second);
    Child a("wait " + name), b("wait " + name);
    ASSERT_TRUE(a.WaitReady() && b.WaitReady());
    ASSERT_TRUE(WaitUntilBlocked(a.Pid(), a.Pid()) && WaitUntilBlocked(b.Pid(), b.Pid()));
    Waiter w1(event.get()), w2(second.get());
    ASSERT_TRUE(w1.Blocked() && w2.Blocked());

    ASSERT_TRUE(second->Set());
    EXPECT_EQ(a.Exit(), 0);
    EXPECT_EQ(b.Exit(), 0);
    w1.thread.join();
    w2.thread.join();
    EXPECT_EQ(w1.result, WaitResult::Signaled);
    EXPECT_EQ(w2.result, WaitResult::Signaled);
    EXPECT_EQ(event->State(), 1);
    EXPECT_EQ(event->Wait(0), WaitResult::Signaled);
    ASSERT_TRUE(event->Reset());
    EXPECT_EQ(second->State(), 0);
    EXPECT_EQ(second->Wait(0), WaitResult::Timeout);
}

TEST(NamedEventThreads, SetThenResetStillReleasesBlockedManualWaiter)
{
    // A pause right after a resume must not strand a thread that was already waiting.
    auto event = NamedEvent::CreateUnnamed(true);
    Waiter waiter(event.get());
    ASSERT_TRUE(waiter.Blocked());
    ASSERT_TRUE(event->Set());
    ASSERT_TRUE(event->Reset());
    waiter.thread.join();
    EXPECT_EQ(waiter.result, WaitResult::Signaled);
    EXPECT_EQ(event->State(), 0);
}

TEST(NamedEventThreads, AutoResetReleasesOneWaiterPerSet)
{
    auto event = NamedEvent::CreateUnnamed(false);
    ASSERT_TRUE(event->Set());
    EXPECT_EQ(event->Wait(0), WaitResult::Signaled);  // a Set without waiters is kept
    EXPECT_EQ(event->State(), 0);                     // and taken by that one wait
    EXPECT_EQ(event->Wait(0), WaitResult::Timeout);

    std::vector<std::unique_ptr<Waiter>> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.push_back(std::make_unique<Waiter>(event.get()));
        ASSERT_TRUE(waiters.back()->Blocked());
    }
    auto released = [&] {
        int n = 0;
        for (auto& w : waiters)
            n += w->done.load();
        return n;
    };
    for (int round = 1; round <= 3; ++round) {
        ASSERT_TRUE(event->Set());
        while (released() < round)
            std::this_thread::yield();
        // The released waiter reset the event, so nobody else can be released now.
        EXPECT_EQ(event->State(), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(released(), round);
    }
    for (auto& w : waiters) {
        w->thread.join();
        EXPECT_EQ(w->result, WaitResult::Signaled);
    }
}

TEST(NamedEventWait, TimeOutIsNotEarly)
{
    auto unnamed = NamedEvent::CreateUnnamed(false);
    auto named = NamedEvent::CreateOrOpen(UniqueName("timeout"));
    ASSERT_TRUE(named);
    EXPECT_EQ(unnamed->Wait(0), WaitResult::Timeout);

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(named->Wait(120), WaitResult::Timeout);
    EXPECT_GE(MsSince(start), 120.0);

    NamedEvent* both[] = {unnamed.get(), named.get()};
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(NamedEvent::WaitAny(both, 2, 120), -1);
    EXPECT_GE(MsSince(start), 120.0);
    EXPECT_EQ(NamedEvent::WaitAny(both, 2, 0), -1);
}

TEST(NamedEventWait, WaitAnyGivesTheIndexOfMixedEvents)
{
    auto autoA = NamedEvent::CreateUnnamed(false);
    auto manualB = NamedEvent::CreateUnnamed(true);
    auto namedC = NamedEvent::CreateOrOpen(UniqueName("any"));
    ASSERT_TRUE(namedC);
    NamedEvent* events[] = {autoA.get(), manualB.get(), namedC.get()};

    ASSERT_TRUE(namedC->Set());
    EXPECT_EQ(NamedEvent::WaitAny(events, 3, 0), 2);
    EXPECT_EQ(NamedEvent::WaitAny(events, 3, 0), 2);  // manual: still set
    ASSERT_TRUE(autoA->Set());
    EXPECT_EQ(NamedEvent::WaitAny(events, 3, 0), 0);  // lowest set index wins
    EXPECT_EQ(autoA->State(), 0);                     // and an auto-reset one is taken
    EXPECT_EQ(NamedEvent::WaitAny(events, 3, 0), 2);
    ASSERT_TRUE(namedC->Reset());

    // A blocked multiple wait, woken from another thread through an unnamed event.
    std::atomic<pid_t> tid{0};
    int index = -5;
    std::thread waiter([&] {
        tid.store(gettid());
        index = NamedEvent::WaitAny(events, 3);
    });
    while (tid.load() == 0)
        std::this_thread::yield();
    ASSERT_TRUE(WaitUntilBlocked(getpid(), tid.load()));
    ASSERT_TRUE(manualB->Set());
    waiter.join();
    EXPECT_EQ(index, 1);

    EXPECT_EQ(NamedEvent::WaitAny(events, 0, 0), -2);
    NamedEvent* withNull[] = {autoA.get(), nullptr};
    EXPECT_EQ(NamedEvent::WaitAny(withNull, 2, 0), -2);
    EXPECT_FALSE(NamedEvent::LastError().empty());
}

TEST(NamedEventProcesses, WaitAnyInAnotherProcessSeesTheNamedEventSet)
{
    const std::string first = UniqueName("anyA"), second = UniqueName("anyB");
    auto a = NamedEvent::CreateOrOpen(first), b = NamedEvent::CreateOrOpen(second);
    ASSERT_TRUE(a && b);
    Child waiter("waitany " + first + " " + second);
    ASSERT_TRUE(waiter.WaitReady());
    ASSERT_TRUE(WaitUntilBlocked(waiter.Pid(), waiter.Pid()));
    ASSERT_TRUE(b->Set());
    EXPECT_EQ(waiter.Exit(), 12);  // [unnamed, first, second]: index 2
}

TEST(NamedEventProcesses, WaitAnyWorksWithoutFutexWaitv)
{
    const std::string first = UniqueName("oldA"), second = UniqueName("oldB");
    auto a = NamedEvent::CreateOrOpen(first), b = NamedEvent::CreateOrOpen(second);
    ASSERT_TRUE(a && b);
    Child waiter("waitany-old-kernel " + first + " " + second);
    ASSERT_TRUE(waiter.WaitReady()) << "exit " << waiter.Exit();
    ASSERT_TRUE(WaitUntilBlocked(waiter.Pid(), waiter.Pid()));
    ASSERT_TRUE(b->Set());
    EXPECT_EQ(waiter.Exit(), 12);
}

TEST(NamedEventObject, IsMode0600AndScopedToTheUser)
{
    const std::string name = UniqueName("mode");
    const std::string path = ShmPath(name);
    for (mode_t mask : {mode_t(0), mode_t(0777)}) {
        const mode_t old = umask(mask);
        auto event = NamedEvent::CreateOrOpen(name);
        umask(old);
        ASSERT_TRUE(event);
        struct stat st{};
        ASSERT_EQ(stat(path.c_str(), &st), 0) << path;
        EXPECT_EQ(st.st_mode & 07777, 0600u) << "umask " << mask;
        EXPECT_EQ(st.st_uid, geteuid());
        EXPECT_EQ(event->Name(), name);
    }
    // The last holder closing removes the object; opening it again then fails.
    struct stat st{};
    EXPECT_NE(stat(path.c_str(), &st), 0);
    std::string error;
    EXPECT_FALSE(NamedEvent::OpenExisting(name, &error));
    EXPECT_NE(error.find("does not exist"), std::string::npos) << error;

    for (const char* bad : {"", "a/b"}) {
        error.clear();
        EXPECT_FALSE(NamedEvent::CreateOrOpen(bad, &error));
        EXPECT_FALSE(error.empty());
    }
}

TEST(NamedEventObject, AnotherUserNeitherSeesNorDrivesIt)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to run a process as another user";
    const std::string name = UniqueName("user");
    auto event = NamedEvent::CreateOrOpen(name);
    ASSERT_TRUE(event && event->Set());
    Child other("other-user " + name, kNobody);
    EXPECT_EQ(other.Exit(), 0);
    EXPECT_EQ(event->State(), 1);
    ASSERT_TRUE(event->Reset());
    EXPECT_EQ(event->State(), 0);  // the other user's Set did not reach us
    struct stat st{};
    EXPECT_NE(stat(ShmPath(name, kNobody).c_str(), &st), 0);  // and its object went with it
}

TEST(NamedEventObject, KilledHolderLeavesNoSetEventBehind)
{
    const std::string name = UniqueName("killed");
    {
        Child holder("hold-set " + name);
        ASSERT_TRUE(holder.WaitReady());
        auto seen = NamedEvent::OpenExisting(name);
        ASSERT_TRUE(seen);
        EXPECT_EQ(seen->State(), 1);
        seen.reset();
        holder.Kill();
        EXPECT_EQ(holder.Exit(), 128 + SIGKILL);
    }
    struct stat st{};
    ASSERT_EQ(stat(ShmPath(name).c_str(), &st), 0);  // the dead holder could not remove it
    std::string error;
    EXPECT_FALSE(NamedEvent::OpenExisting(name, &error));
    EXPECT_NE(error.find("no live holder"), std::string::npos) << error;

    {
        Child holder("hold-set " + name);
        ASSERT_TRUE(holder.WaitReady());
        holder.Kill();
        holder.Exit();
    }
    auto fresh = NamedEvent::CreateOrOpen(name);
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->State(), 0);
    EXPECT_EQ(fresh->Wait(0), WaitResult::Timeout);
}
