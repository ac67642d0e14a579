// links: tavrec_support_TempRegistry tavrec_support_MediaProbe tavrec_support_Shell
// tavrec as a user runs it, driven only by its global shortcuts from the settings
// file (Ctrl+Alt+F9 start, F10 pause, F11 stop), pressed with xdotool while another
// window has the focus: the AVI leaves the pause out, the caption follows the state,
// start while recording does nothing, start while paused resumes, stop and pause
// while idle leave the program idle and running, and the shortcuts follow a change of
// the keyboard mapping. A recording paused, resumed and stopped with tavrec-ctl is
// followed by the window.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/MediaProbe.h"
#include "tests/support/Shell.h"
#include "tests/support/TempRegistry.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using testkit::Shell;

// The program with its own settings file and runtime folder; killed at the end.
class Program {
public:
    Program(const std::string& registry, const std::string& runtimeDir)
    {
        std::vector<std::string> own{"TAVREC_REGISTRY=" + registry, "XDG_RUNTIME_DIR=" + runtimeDir};
        std::vector<char*> envp;
        for (char** e = environ; *e; ++e)
            if (std::strncmp(*e, "TAVREC_REGISTRY=", 16) != 0 && std::strncmp(*e, "XDG_RUNTIME_DIR=", 16) != 0)
                envp.push_back(*e);
        for (std::string& e : own)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        static const std::string program = TAVREC_BINARY_DIR "/bin/tavrec";
        char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
        if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv, envp.data()) != 0)
            pid_ = -1;
    }
    ~Program()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            for (int i = 0; i < 100 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i)
                std::this_thread::sleep_for(50ms);
            if (kill(pid_, 0) == 0) {
                kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
            }
        }
    }
    bool Running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }

    // The main window's id once it is shown (its idle caption), "" after `timeout`.
    std::string MainWindow(std::chrono::milliseconds timeout) const
    {
        for (auto end = Clock::now() + timeout; Clock::now() < end; std::this_thread::sleep_for(100ms)) {
            std::istringstream ids(Shell("xdotool search --onlyvisible --pid " + std::to_string(pid_) + " 2>/dev/null"));
            for (std::string id; std::getline(ids, id);)
                if (Title(id) == "Tavrec!")
                    return id;
        }
        return {};
    }
    // Every visible window's caption, for failure messages.
    std::string Captions() const
    {
        return Shell("for w in $(xdotool search --onlyvisible --pid " + std::to_string(pid_) +
                     " 2>/dev/null); do xdotool getwindowname $w; done");
    }
    static std::string Title(const std::string& id) { return Shell("xdotool getwindowname " + id + " 2>/dev/null"); }

private:
    pid_t pid_ = -1;
};

// Waits until the window's caption is `title`; returns the last caption seen.
std::string WaitForTitle(const std::string& window, const std::string& title)
{
    std::string seen;
    for (auto end = Clock::now() + 15s; Clock::now() < end; std::this_thread::sleep_for(50ms))
        if ((seen = Program::Title(window)) == title)
            break;
    return seen;
}

void Press(const std::string& keys)
{
    ASSERT_EQ(std::system(("xdotool key --clearmodifiers " + keys).c_str()), 0) << keys;
}

// Video only, numbered names, whole screen, 5 frames a second, Motion JPEG; shortcuts
// Ctrl+Alt+F9, F10 and F11 (0xC078, 0xC079, 0xC07A).
std::string ShortcutSettings(const std::string& file)
{
    return "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\KELDAN\\TAVREC]\r\n"
           "\"BoolSection\"=hex:02,01,00,00\r\n\"CaptureSize\"=hex:01,00,00,00\r\n"
           "\"FPS\"=hex:05,00,00,00\r\n\"SavedFile\"=\"" + file + "\"\r\n"
           "\"VCMDevice\"=\"MJPEG (Motion JPEG)\"\r\n"
           "\"HkStartRecord\"=hex:78,c0,00,00\r\n\"HkPauseRecord\"=hex:79,c0,00,00\r\n"
           "\"HkStopRecord\"=hex:7a,c0,00,00\r\n";
}

TEST(RecordingShortcuts, RecordPauseResumeStopFromAnotherProgram)
{
    testkit::TempDir dir;
    TempRegistry registry;
    const std::string file = dir.File("shortcuts.avi");
    registry.SetText(ShortcutSettings(file));
    // The keyboard focus stays with another program all along.
    pid_t other = -1;
    {
        char* argv[] = {const_cast<char*>("xterm"), const_cast<char*>("-T"), const_cast<char*>("Other program"),
                        const_cast<char*>("-e"), const_cast<char*>("sleep"), const_cast<char*>("120"), nullptr};
        if (posix_spawnp(&other, "xterm", nullptr, nullptr, argv, environ) != 0)
            other = -1;
    }
    Program tavrec(registry.Path(), dir.Path());
    const std::string main = tavrec.MainWindow(20s);
    ASSERT_FALSE(main.empty()) << "no main window";
    std::string focus;
    for (auto end = Clock::now() + 10s; Clock::now() < end && focus.empty(); std::this_thread::sleep_for(100ms))
        focus = Shell("xdotool search --onlyvisible --name '^Other program$' 2>/dev/null | head -n1");
    if (!focus.empty())
        Shell("xdotool windowactivate --sync " + focus + " 2>/dev/null");

    // While idle: pause and stop leave everything idle, the program running.
    Press("ctrl+alt+F10 ctrl+alt+F11");
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(tavrec.Running());
    EXPECT_EQ(Program::Title(main), "Tavrec!");
    EXPECT_FALSE(TempRegistry::Exists(file));

    Press("ctrl+alt+F9");
    ASSERT_EQ(WaitForTitle(main, "Tavrec! [RECORDING]"), "Tavrec! [RECORDING]") << tavrec.Captions();
    std::this_thread::sleep_for(2s);
    Press("ctrl+alt+F10");
    ASSERT_EQ(WaitForTitle(main, "Tavrec! [PAUSING]"), "Tavrec! [PAUSING]");
    std::this_thread::sleep_for(3s);
    Press("ctrl+alt+F9");  // resumes
    ASSERT_EQ(WaitForTitle(main, "Tavrec! [RECORDING]"), "Tavrec! [RECORDING]");
    std::this_thread::sleep_for(1s);
    Press("ctrl+alt+F9");  // while recording: nothing
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(Program::Title(main), "Tavrec! [RECORDING]");
    Press("ctrl+alt+F11");
    ASSERT_EQ(WaitForTitle(main, "Tavrec!"), "Tavrec!");

    // 4 s recorded around a 3 s pause.
    const double seconds = testkit::ProbeDuration(file);
    EXPECT_GT(seconds, 2.5) << file;
    EXPECT_LT(seconds, 5.5) << file;
    const std::vector<testkit::StreamFacts> streams = testkit::ProbeStreams(file);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].at("codec_name"), "mjpeg");

    // The stop while idle again: nothing new, the file stays as it was.
    Press("ctrl+alt+F11");
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(tavrec.Running());
    EXPECT_EQ(Program::Title(main), "Tavrec!");
    EXPECT_NEAR(testkit::ProbeDuration(file), seconds, 0.01);

    // F9 moves to another key: the grabs follow the new mapping.
    ASSERT_EQ(std::system("xmodmap -e 'keycode 75 = F12 F12' -e 'keycode 96 = F9 F9'"), 0);
    std::this_thread::sleep_for(1s);
    Press("ctrl+alt+F9");
    const std::string moved = WaitForTitle(main, "Tavrec! [RECORDING]");
    std::this_thread::sleep_for(1s);
    Press("ctrl+alt+F11");
    const std::string stopped = WaitForTitle(main, "Tavrec!");
    std::system("xmodmap -e 'keycode 75 = F9 F9' -e 'keycode 96 = F12 F12'");
    EXPECT_EQ(moved, "Tavrec! [RECORDING]");
    EXPECT_EQ(stopped, "Tavrec!");
    EXPECT_GT(testkit::ProbeDuration(dir.File("shortcuts1.avi")), 0.0);

    if (other > 0) {
        kill(other, SIGTERM);
        waitpid(other, nullptr, 0);
    }
}

// Runs tavrec-ctl with one command; its exit status.
int Control(const std::string& command)
{
    return std::system(("'" TAVREC_BINARY_DIR "/bin/tavrec-ctl' " + command + " >/dev/null").c_str());
}

TEST(RecordingShortcuts, TheWindowFollowsARecordingDrivenWithTavrecCtl)
{
    testkit::TempDir dir;
    TempRegistry registry;
    const std::string file = dir.File("driven.avi");
    registry.SetText(ShortcutSettings(file));
    Program tavrec(registry.Path(), dir.Path());
    const std::string main = tavrec.MainWindow(20s);
    ASSERT_FALSE(main.empty()) << "no main window";

    Press("ctrl+alt+F9");
    ASSERT_EQ(WaitForTitle(main, "Tavrec! [RECORDING]"), "Tavrec! [RECORDING]") << tavrec.Captions();
    std::this_thread::sleep_for(1s);
    ASSERT_EQ(Control("pause"), 0);
    EXPECT_EQ(WaitForTitle(main, "Tavrec! [PAUSING]"), "Tavrec! [PAUSING]");
    // The window knows it is paused: its start shortcut resumes.
    Press("ctrl+alt+F9");
    EXPECT_EQ(WaitForTitle(main, "Tavrec! [RECORDING]"), "Tavrec! [RECORDING]");
    ASSERT_EQ(Control("pause"), 0);
    EXPECT_EQ(WaitForTitle(main, "Tavrec! [PAUSING]"), "Tavrec! [PAUSING]");
    ASSERT_EQ(Control("resume"), 0);
    EXPECT_EQ(WaitForTitle(main, "Tavrec! [RECORDING]"), "Tavrec! [RECORDING]");
    std::this_thread::sleep_for(1s);
    ASSERT_EQ(Control("stop"), 0);
    EXPECT_EQ(WaitForTitle(main, "Tavrec!"), "Tavrec!");
    EXPECT_GT(testkit::ProbeDuration(file), 1.0);
    EXPECT_TRUE(tavrec.Running());

    // Idle for real: the next start records to a new file.
    Press("ctrl+alt+F9");
    EXPECT_EQ(WaitForTitle(main, "Tavrec! [RECORDING]"), "Tavrec! [RECORDING]");
    std::this_thread::sleep_for(1s);
    Press("ctrl+alt+F11");
    EXPECT_EQ(WaitForTitle(main, "Tavrec!"), "Tavrec!");
    EXPECT_GT(testkit::ProbeDuration(dir.File("driven1.avi")), 0.0);
}

}  // namespace
