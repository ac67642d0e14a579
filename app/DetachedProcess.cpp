#include "app/DetachedProcess.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <thread>

extern char** environ;

namespace detached {

namespace {

// Spawn attributes that give the child an empty signal mask and the default action
// for every signal, whatever the recorder blocks or handles itself.
class SpawnAttributes {
public:
    SpawnAttributes()
    {
        ok_ = posix_spawnattr_init(&attr_) == 0;
        if (!ok_)
            return;
        sigset_t none, all;
        sigemptyset(&none);
        sigfillset(&all);
        sigdelset(&all, SIGKILL);
        sigdelset(&all, SIGSTOP);
        ok_ = posix_spawnattr_setsigmask(&attr_, &none) == 0 &&
              posix_spawnattr_setsigdefault(&attr_, &all) == 0 &&
              posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0;
    }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attr_); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;

    bool Ok() const { return ok_; }
    const posix_spawnattr_t* Get() const { return &attr_; }

private:
    posix_spawnattr_t attr_;
    bool ok_ = false;
};

// File actions that close every descriptor above standard error in the child, so
// that a started program never holds one of the recorder's files, sockets or locks
// (a leaked single-instance lock would keep refusing a new recorder while the
// wizard runs), even one that was opened without O_CLOEXEC.
class SpawnFileActions {
public:
    SpawnFileActions()
    {
        ok_ = posix_spawn_file_actions_init(&actions_) == 0;
        if (ok_)
            ok_ = posix_spawn_file_actions_addclosefrom_np(&actions_, 3) == 0;
    }
    ~SpawnFileActions() { posix_spawn_file_actions_destroy(&actions_); }
    SpawnFileActions(const SpawnFileActions&) = delete;
    SpawnFileActions& operator=(const SpawnFileActions&) = delete;

    bool Ok() const { return ok_; }
    const posix_spawn_file_actions_t* Get() const { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
    bool ok_ = false;
};

// Waits for the child on a thread of its own; only this one pid is waited for, so
// children of other parts of the program (QProcess) are left to their owners.
void ReapLater(pid_t pid)
{
    try {
        std::thread([pid] {
            int status = 0;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: reap it now if it has already ended, otherwise the
        // kernel hands it to init when the recorder ends.
        int status = 0;
        waitpid(pid, &status, WNOHANG);
    }
}

}  // namespace

bool Start(const std::string& program, const std::vector<std::string>& arguments, bool searchPath)
{
    if (program.empty())
        return false;
    SpawnAttributes attributes;
    SpawnFileActions fileActions;
    if (!attributes.Ok() || !fileActions.Ok())
        return false;

    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int rc = searchPath
                       ? posix_spawnp(&pid, program.c_str(), fileActions.Get(), attributes.Get(), argv.data(), environ)
                       : posix_spawn(&pid, program.c_str(), fileActions.Get(), attributes.Get(), argv.data(), environ);
    if (rc != 0 || pid <= 0)
        return false;
    ReapLater(pid);
    return true;
}

}  // namespace detached
