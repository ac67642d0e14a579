// links: tavrec_support_Shell tavrec_support_TempRegistry
#include "tests/support/TavrecProcess.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <thread>

#include "tests/support/Shell.h"
#include "tests/support/TempRegistry.h"

namespace testkit {

namespace {

const std::string kTavrec = TAVREC_BINARY_DIR "/bin/tavrec";

}  // namespace

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    using Clock = std::chrono::steady_clock;
    for (auto end = Clock::now() + timeout; Clock::now() < end; std::this_thread::sleep_for(std::chrono::milliseconds(100)))
        if (done())
            return true;
    return done();
}

int WindowField(const std::string& xwininfo, const std::string& name)
{
    std::smatch m;
    if (!std::regex_search(xwininfo, m, std::regex(name + ":\\s+(-?\\d+)")))
        return -99999;
    return std::stoi(m[1]);
}

TavrecProcess::TavrecProcess(const TempRegistry& registry, const std::string& display, const TavrecLaunch& launch)
    : x_("DISPLAY=" + display + " ")
{
    const std::string runtime = registry.Dir() + "/run";
    mkdir(runtime.c_str(), 0700);
    pid_ = fork();
    if (pid_ == 0) {
        setenv("TAVREC_REGISTRY", registry.Path().c_str(), 1);
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        setenv("DISPLAY", display.c_str(), 1);
        for (const auto& [name, value] : launch.environment)
            setenv(name.c_str(), value.c_str(), 1);
        if (launch.fileSizeLimit) {
            const rlimit limit{launch.fileSizeLimit, launch.fileSizeLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (!launch.errorFile.empty() && !std::freopen(launch.errorFile.c_str(), "w", stderr))
            _exit(126);
        execl(kTavrec.c_str(), kTavrec.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
}

TavrecProcess::~TavrecProcess()
{
    if (Running()) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

bool TavrecProcess::Running()
{
    if (ended_ || pid_ <= 0)
        return false;
    ended_ = waitpid(pid_, &status_, WNOHANG) == pid_;
    return !ended_;
}

bool TavrecProcess::Terminate()
{
    kill(pid_, SIGTERM);
    if (!WaitFor([&] { return !Running(); }, std::chrono::seconds(60)))
        return false;
    return WIFEXITED(status_) && WEXITSTATUS(status_) == 0;
}

std::string TavrecProcess::X(const std::string& command) const
{
    return Shell(x_ + command + " 2>/dev/null");
}

std::string TavrecProcess::Visible(const std::string& title, int minWidth) const
{
    const std::string ids = X("xdotool search --onlyvisible --pid " + std::to_string(pid_));
    for (size_t at = 0; at < ids.size();) {
        const size_t end = std::min(ids.find('\n', at), ids.size());
        const std::string id = ids.substr(at, end - at);
        if (std::regex_match(X("xdotool getwindowname " + id), std::regex(title)) &&
            (minWidth == 0 || WindowField(X("xwininfo -id " + id), "Width") >= minWidth))
            return id;
        at = end + 1;
    }
    return {};
}

std::string TavrecProcess::Title(const std::string& window) const
{
    return X("xdotool getwindowname " + window);
}

void TavrecProcess::ClickButton(const std::string& window, int x) const
{
    X("xdotool mousemove --window " + window + " " + std::to_string(x) + " 15 click 1");
}

}  // namespace testkit
