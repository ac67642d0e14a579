// links: tavrec_support_TempRegistry
// tavrec as a user starts it, in the headless desktop session: the single-instance
// refusal, the splash before the main window, the idle window's size, flags and
// decorations, a broken settings file, and the settings written at exit and read back.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TempRegistry.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kTavrec = TAVREC_BINARY_DIR "/bin/tavrec";

std::string Shell(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

// One tavrec process with its own settings file and runtime folder (so its
// single-instance lock is its own unless a test shares the folder on purpose).
class Tavrec {
public:
    Tavrec(const std::string& registry, const std::string& runtimeDir) {
        std::vector<std::string> env{"TAVREC_REGISTRY=" + registry, "XDG_RUNTIME_DIR=" + runtimeDir};
        std::vector<char*> envp;
        for (char** e = environ; *e; ++e)
            if (strncmp(*e, "TAVREC_REGISTRY=", 16) != 0 && strncmp(*e, "XDG_RUNTIME_DIR=", 16) != 0) envp.push_back(*e);
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        char* argv[] = {const_cast<char*>(kTavrec.c_str()), nullptr};
        // The error box's text is also written to the standard error.
        static int count = 0;
        stderrPath_ = runtimeDir + "/stderr-" + std::to_string(++count);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, stderrPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv, envp.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    std::string StandardError() const { return TempRegistry::ReadFile(stderrPath_); }
    ~Tavrec() {
        if (pid_ > 0 && !ended_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    pid_t Pid() const { return pid_; }
    bool Running() {
        if (ended_) return false;
        int status;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            ended_ = true;
            code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        return !ended_;
    }
    // The exit code, -1 when it did not end in time or ended by a signal.
    int Wait(std::chrono::milliseconds timeout) {
        for (auto end = Clock::now() + timeout; Clock::now() < end; std::this_thread::sleep_for(20ms))
            if (!Running()) return code_;
        return -1;
    }

    // Visible top-level windows of the process, with their titles.
    std::vector<std::pair<std::string, std::string>> Windows() const {
        std::vector<std::pair<std::string, std::string>> result;
        for (const auto& id : Lines(Shell("xdotool search --onlyvisible --pid " + std::to_string(pid_) + " 2>/dev/null")))
            result.emplace_back(id, Title(id));
        return result;
    }
    static std::string Title(const std::string& id) {
        std::string title = Shell("xdotool getwindowname " + id + " 2>/dev/null");
        if (!title.empty() && title.back() == '\n') title.pop_back();
        return title;
    }
    // The first visible window with exactly this title, waiting up to `timeout`.
    std::string WaitForWindow(const std::string& title, std::chrono::milliseconds timeout) const {
        for (auto end = Clock::now() + timeout; Clock::now() < end; std::this_thread::sleep_for(50ms))
            for (const auto& [id, t] : Windows())
                if (t == title) return id;
        return {};
    }

private:
    pid_t pid_ = -1;
    std::string stderrPath_;
    bool ended_ = false;
    int code_ = -1;
};

int Field(const std::string& xwininfo, const std::string& name) {
    std::smatch m;
    if (!std::regex_search(xwininfo, m, std::regex(name + ":\\s+(-?\\d+)"))) return -99999;
    return std::stoi(m[1]);
}

// Root position of the window manager's frame around a client window.
std::pair<int, int> FramePosition(const std::string& client) {
    std::smatch m;
    const std::string tree = Shell("xwininfo -tree -id " + client);
    if (!std::regex_search(tree, m, std::regex("Parent window id: (0x[0-9a-f]+)"))) return {-99999, -99999};
    const std::string frame = Shell("xwininfo -id " + std::string(m[1]));
    return {Field(frame, "Absolute upper-left X"), Field(frame, "Absolute upper-left Y")};
}

// Closes a message box the way a user does: focus it and press Return (its OK).
void PressOk(const std::string& box) { Shell("xdotool windowactivate --sync " + box + " key Return 2>/dev/null"); }

class Startup : public ::testing::Test {
protected:
    void SetUp() override {
        runtime_ = registry_.Dir() + "/run";
        ASSERT_EQ(mkdir(runtime_.c_str(), 0700), 0);
    }
    TempRegistry registry_;
    std::string runtime_;
};

TEST_F(Startup, SecondInstanceShowsOnlyTheMessageAndExitsZeroWhileTheFirstRuns) {
    Tavrec first(registry_.Path(), runtime_);
    ASSERT_FALSE(first.WaitForWindow("Tavrec!", 15s).empty());

    Tavrec second(registry_.Path(), runtime_);
    const std::string box = second.WaitForWindow("Tavrec", 15s);
    ASSERT_FALSE(box.empty()) << "no error box of the second instance";
    std::this_thread::sleep_for(500ms);
    // Only the box: neither a splash nor a main window.
    const auto windows = second.Windows();
    EXPECT_EQ(windows.size(), 1u);
    for (const auto& [id, title] : windows) EXPECT_EQ(title, "Tavrec") << id;

    PressOk(box);
    EXPECT_EQ(second.Wait(10s), 0);
    EXPECT_NE(second.StandardError().find("Program is already running."), std::string::npos)
        << second.StandardError();
    EXPECT_TRUE(first.Running());
    EXPECT_FALSE(first.WaitForWindow("Tavrec!", 1s).empty());
}

// The refused instance saves nothing: the first one closes and a value changes in the
// file while the second's box is still open; dismissing the box keeps the change.
TEST_F(Startup, RefusedSecondInstanceLeavesTheSettingsFileAsItFindsItAtItsEnd) {
    Tavrec first(registry_.Path(), runtime_);
    ASSERT_FALSE(first.WaitForWindow("Tavrec!", 15s).empty());
    Tavrec second(registry_.Path(), runtime_);
    const std::string box = second.WaitForWindow("Tavrec", 15s);
    ASSERT_FALSE(box.empty()) << "no error box of the second instance";

    kill(first.Pid(), SIGTERM);
    ASSERT_EQ(first.Wait(10s), 0);
    std::string text = registry_.Text();
    ASSERT_NE(text.find("\"FPS\"=hex:"), std::string::npos) << text;
    text = std::regex_replace(text, std::regex("\"FPS\"=hex:[0-9a-f,]+"), "\"FPS\"=hex:1b,00,00,00");
    registry_.SetText(text);

    PressOk(box);
    EXPECT_EQ(second.Wait(10s), 0);
    EXPECT_EQ(registry_.Text(), text);
}

TEST_F(Startup, MainWindowAppearsOnlyAfterTheSplashAtItsIdleSize) {
    Tavrec tavrec(registry_.Path(), runtime_);
    bool splashSeen = false, mainWhileSplash = false;
    Clock::time_point splashFirst{}, mainFirst{};
    std::string main;
    for (auto end = Clock::now() + 20s; Clock::now() < end && main.empty(); std::this_thread::sleep_for(50ms)) {
        bool splashNow = false;
        std::string mainNow;
        for (const auto& [id, title] : tavrec.Windows()) {
            if (title == "Tavrec!") mainNow = id;
            else splashNow = true;
        }
        if (splashNow && !splashSeen) { splashSeen = true; splashFirst = Clock::now(); }
        if (!mainNow.empty()) {
            mainWhileSplash = splashNow;
            mainFirst = Clock::now();
            main = mainNow;
        }
    }
    ASSERT_TRUE(splashSeen) << "no splash window";
    ASSERT_FALSE(main.empty()) << "no main window";
    EXPECT_FALSE(mainWhileSplash);
    // The splash stays about two seconds (a lower bound only: the machine may be slow).
    EXPECT_GE(mainFirst - splashFirst, 1500ms);

    std::this_thread::sleep_for(300ms);
    const std::string info = Shell("xwininfo -id " + main);
    EXPECT_EQ(Field(info, "Width"), 210);
    EXPECT_EQ(Field(info, "Height"), 31);
    EXPECT_NE(Shell("xprop -id " + main + " _NET_WM_STATE").find("_NET_WM_STATE_ABOVE"), std::string::npos);
    const std::string hints = Shell("xprop -id " + main + " WM_NORMAL_HINTS");
    EXPECT_NE(hints.find("minimum size: 210 by 31"), std::string::npos) << hints;
    EXPECT_NE(hints.find("maximum size: 210 by 31"), std::string::npos) << hints;
    // A fixed tool window: move, minimise and close; border, title, system menu and
    // minimise button. No resize or maximise, which openbox would otherwise offer.
    const std::string motif = Shell("xprop -id " + main + " _MOTIF_WM_HINTS");
    EXPECT_NE(motif.find("= 0x3, 0x2c, 0x3a, 0x0, 0x0"), std::string::npos) << motif;
    const std::string actions = Shell("xprop -id " + main + " _NET_WM_ALLOWED_ACTIONS");
    EXPECT_NE(actions.find("_NET_WM_ACTION_MINIMIZE"), std::string::npos) << actions;
    EXPECT_EQ(actions.find("MAXIMIZE"), std::string::npos) << actions;
    EXPECT_EQ(actions.find("_NET_WM_ACTION_RESIZE"), std::string::npos) << actions;

    kill(tavrec.Pid(), SIGTERM);
    EXPECT_EQ(tavrec.Wait(10s), 0);
}

TEST_F(Startup, BrokenSettingsFileShowsTheErrorAndIsLeftUntouched) {
    const std::string broken =
        "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\KELDAN\\TAVREC]\r\n"
        "\"PenColor\"=hex:01,00,00,00\r\n\"PenSize\"=dword:00000001\r\n\"EraserSize\"=dword:00000001\r\n"
        "\"APLeft\"=dword:00000001\r\n\"APTop\"=dword:00000001\r\n\"BoolSection\"=hex:01,00,00,00\r\n"
        "\"CaptureSize\"=hex:01,00,00,00\r\n\"FPS\"=dword:0000001e\r\n";
    registry_.SetText(broken);

    Tavrec tavrec(registry_.Path(), runtime_);
    const std::string box = tavrec.WaitForWindow("Tavrec", 15s);
    ASSERT_FALSE(box.empty()) << "no error box";
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(tavrec.Windows().size(), 1u) << "only the box, no splash or main window";
    PressOk(box);
    EXPECT_EQ(tavrec.Wait(10s), 0);
    EXPECT_NE(tavrec.StandardError().find("Invalid data type for 'FPS'."), std::string::npos)
        << tavrec.StandardError();
    EXPECT_EQ(registry_.Text(), broken);
}

TEST_F(Startup, SettingsWrittenAtExitAreReadBackAndTheWindowDoesNotCreep) {
    Tavrec seed(registry_.Path(), runtime_);  // creates the file with every default
    ASSERT_FALSE(seed.WaitForWindow("Tavrec!", 15s).empty());
    kill(seed.Pid(), SIGTERM);
    ASSERT_EQ(seed.Wait(10s), 0);
    std::string text = registry_.Text();
    text = std::regex_replace(text, std::regex("\"APLeft\"=dword:[0-9a-f]+"), "\"APLeft\"=dword:000000c8");
    text = std::regex_replace(text, std::regex("\"APTop\"=dword:[0-9a-f]+"), "\"APTop\"=dword:00000096");
    text = std::regex_replace(text, std::regex("\"FPS\"=hex:[0-9a-f,]+"), "\"FPS\"=hex:0f,00,00,00");
    registry_.SetText(text);

    // Three starts, each ended by another signal: the frame stays at (200, 150) and the other
    // values come back as they were.
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        Tavrec tavrec(registry_.Path(), runtime_);
        const std::string main = tavrec.WaitForWindow("Tavrec!", 15s);
        ASSERT_FALSE(main.empty());
        std::this_thread::sleep_for(500ms);
        EXPECT_EQ(FramePosition(main), std::make_pair(200, 150));
        kill(tavrec.Pid(), signal);
        EXPECT_EQ(tavrec.Wait(10s), 0);
        const std::string saved = registry_.Text();
        EXPECT_NE(saved.find("\"APLeft\"=dword:000000c8"), std::string::npos) << saved;
        EXPECT_NE(saved.find("\"APTop\"=dword:00000096"), std::string::npos) << saved;
        EXPECT_NE(saved.find("\"FPS\"=hex:0f,00,00,00"), std::string::npos) << saved;
    }
}

TEST_F(Startup, ConfigureMenuOfTheRunningProgramChangesTheFlagItSaves) {
    Tavrec tavrec(registry_.Path(), runtime_);
    const std::string main = tavrec.WaitForWindow("Tavrec!", 15s);
    ASSERT_FALSE(main.empty());
    std::this_thread::sleep_for(500ms);
    // The arrow of btnConfigure, the last 45 pixels of the idle toolbar; then, in the
    // menu, past "Capture Area" to "Capture Video".
    Shell("xdotool mousemove --window " + main + " 204 15 click 1");
    std::this_thread::sleep_for(700ms);
    Shell("xdotool key Down Down Return");
    std::this_thread::sleep_for(500ms);
    kill(tavrec.Pid(), SIGTERM);
    ASSERT_EQ(tavrec.Wait(10s), 0);
    // Audio on by default, video now on as well.
    EXPECT_NE(registry_.Text().find("\"BoolSection\"=hex:03,00,00,00"), std::string::npos) << registry_.Text();
}

}  // namespace
