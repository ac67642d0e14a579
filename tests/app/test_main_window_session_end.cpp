// links: tavrec_support_TempRegistry
// The session ends under a running tavrec: its X server goes away. Qt ends the
// process from inside its event loop then; the settings must still be written and
// the exit code be 0, as after any other close. The test runs its own X server so
// that it can stop it.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <regex>
#include <string>
#include <thread>

#include "tests/support/TempRegistry.h"

namespace {

using namespace std::chrono_literals;

// Starts `argv` with `display` as DISPLAY, output to `log`, `fd3` (if any) as its
// descriptor 3.
pid_t Spawn(const std::string& display, const std::string& log, const char* const argv[], int fd3 = -1)
{
    const pid_t pid = fork();
    if (pid == 0) {
        if (fd3 >= 0 && dup2(fd3, 3) < 0)
            _exit(127);
        setenv("DISPLAY", display.c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        FILE* out = freopen(log.c_str(), "w", stderr);
        (void)out;
        execv(argv[0], const_cast<char* const*>(argv));
        _exit(127);
    }
    return pid;
}

// The exit code, -1 when it did not end in time or ended by a signal.
int WaitFor(pid_t pid, std::chrono::milliseconds timeout)
{
    for (auto end = std::chrono::steady_clock::now() + timeout; std::chrono::steady_clock::now() < end;) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(20ms);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

TEST(SessionEnd, XServerGoingAwaySavesTheSettingsAndExitsZero)
{
    TempRegistry registry;
    const std::string runtime = registry.Dir() + "/run";
    ASSERT_EQ(mkdir(runtime.c_str(), 0700), 0);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);

    // An X server of our own on a display number it picks itself.
    int numberPipe[2];
    ASSERT_EQ(pipe(numberPipe), 0);
    const char* xvfb[] = {"/usr/bin/Xvfb", "-displayfd", "3", "-screen", "0", "800x600x24", "-nolisten", "tcp",
                          "-noreset", nullptr};
    const pid_t server = Spawn("", registry.Dir() + "/xvfb.log", xvfb, numberPipe[1]);
    close(numberPipe[1]);
    char number[16] = {};
    ASSERT_GT(read(numberPipe[0], number, sizeof number - 1), 0) << "Xvfb did not start";
    close(numberPipe[0]);
    const std::string display = ":" + std::to_string(std::atoi(number));

    // A word with bits above bit 9: read as it is, written back without them.
    registry.SetText(
        "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\KELDAN\\TAVREC]\r\n\"BoolSection\"=hex:03,04,00,00\r\n");
    const std::string program = TAVREC_BINARY_DIR "/bin/tavrec";
    const char* tavrec[] = {program.c_str(), nullptr};
    const pid_t pid = Spawn(display, registry.Dir() + "/tavrec.log", tavrec);
    // Past the splash, into the main loop.
    std::this_thread::sleep_for(4s);
    ASSERT_EQ(waitpid(pid, nullptr, WNOHANG), 0) << TempRegistry::ReadFile(registry.Dir() + "/tavrec.log");

    kill(server, SIGTERM);
    WaitFor(server, 10s);
    EXPECT_EQ(WaitFor(pid, 15s), 0) << TempRegistry::ReadFile(registry.Dir() + "/tavrec.log");
    EXPECT_NE(registry.Text().find("\"BoolSection\"=hex:03,00,00,00"), std::string::npos) << registry.Text();
}

}  // namespace
