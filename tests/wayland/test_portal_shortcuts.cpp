// links: tavrec_support_TavrecProcess tavrec_support_TempRegistry tavrec_support_MediaProbe tavrec_support_Shell
// The program's shortcuts on a Wayland desktop whose portal offers global shortcuts:
// the portal binds them with their stored keys, and a key pressed on the desktop acts
// as the shortcut's button would. The session's shortcut daemon takes its keys from
// sway's XWayland, on which the program runs and chooses the portal by itself; the
// program grabs no key itself there (the daemon holds the grabs).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "tests/support/MediaProbe.h"
#include "tests/support/Shell.h"
#include "tests/support/TavrecProcess.h"
#include "tests/support/TempRegistry.h"

namespace {

using namespace std::chrono_literals;
using testkit::WaitFor;

std::string SessionXDisplay()
{
    const char* display = std::getenv("TAVREC_SESSION_X_DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return display && *display && wayland && *wayland ? display : "";
}

// Video only, the whole screen, 10 frames per second; start (and resume) on
// Ctrl+Shift+F8, pause on Ctrl+Shift+F9, stop on Ctrl+Alt+S (the shortcut words: the key in the low byte, 0x20 Shift,
// 0x40 Ctrl, 0x80 Alt in the next).
void Configure(const TempRegistry& registry, const std::string& file)
{
    registry.SetText(std::string("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\KELDAN\\TAVREC]\r\n") +
                     "\"BoolSection\"=hex:02,00,00,00\r\n\"CaptureSize\"=hex:01,00,00,00\r\n"
                     "\"FPS\"=hex:0a,00,00,00\r\n\"SavedFile\"=\"" + file + "\"\r\n"
                     "\"HkStartRecord\"=hex:77,60,00,00\r\n\"HkPauseRecord\"=hex:78,60,00,00\r\n\"HkStopRecord\"=hex:53,c0,00,00\r\n");
}

TEST(PortalShortcuts, BoundKeysStartPauseResumeAndStopTheRecording)
{
    const std::string display = SessionXDisplay();
    if (display.empty())
        GTEST_SKIP() << "needs the headless Wayland session with its global-shortcuts back end "
                        "(tests/wayland-session.sh)";
    TempRegistry registry;
    testkit::TempDir dir;
    const std::string file = dir.File("clip.avi");
    const std::string errors = dir.File("stderr.txt");
    Configure(registry, file);
    testkit::TavrecLaunch launch;
    launch.environment = {{"TAVREC_SCREEN_SOURCE", ""}};
    // The portal's answer says which keys the desktop gave.
    const auto bound = [](const std::string& errorFile) {
        return WaitFor([&] {
            return TempRegistry::ReadFile(errorFile).find("bound through the desktop portal") != std::string::npos;
        }, 30s);
    };
    // A run before: the shortcuts of an ended run must not keep the keys from the next.
    launch.errorFile = dir.File("stderr-first.txt");
    {
        testkit::TavrecProcess tavrec(registry, display, launch);
        ASSERT_TRUE(WaitFor([&] { return !tavrec.Visible("Tavrec!").empty(); }, 30s));
        ASSERT_TRUE(bound(launch.errorFile)) << TempRegistry::ReadFile(launch.errorFile);
        EXPECT_TRUE(tavrec.Terminate());
    }
    launch.errorFile = errors;
    {
        testkit::TavrecProcess tavrec(registry, display, launch);
        std::string main;
        ASSERT_TRUE(WaitFor([&] { return !(main = tavrec.Visible("Tavrec!")).empty(); }, 30s));
        ASSERT_TRUE(bound(errors)) << TempRegistry::ReadFile(errors);
        const std::string said = TempRegistry::ReadFile(errors);
        EXPECT_NE(said.find("start-recording = Ctrl+Shift+F8"), std::string::npos) << said;
        EXPECT_NE(said.find("pause-recording = Ctrl+Shift+F9"), std::string::npos) << said;
        EXPECT_NE(said.find("stop-recording = Ctrl+Alt+S"), std::string::npos) << said;
        EXPECT_EQ(said.find("work only while an X11 window has the focus"), std::string::npos) << said;

        tavrec.X("xdotool key ctrl+shift+F8");
        ASSERT_TRUE(WaitFor([&] { return tavrec.Title(main) == "Tavrec! [RECORDING]"; }, 60s))
            << "the start shortcut did not start: " << tavrec.Title(main) << "; said: " << TempRegistry::ReadFile(errors);
        std::this_thread::sleep_for(1s);

        tavrec.X("xdotool key ctrl+shift+F9");
        EXPECT_TRUE(WaitFor([&] { return tavrec.Title(main) == "Tavrec! [PAUSING]"; }, 20s))
            << "the pause shortcut did nothing: " << tavrec.Title(main) << "; said: " << TempRegistry::ReadFile(errors);
        // Paused, the pause key does nothing; the start key resumes.
        tavrec.X("xdotool key ctrl+shift+F9");
        std::this_thread::sleep_for(1s);
        EXPECT_EQ(tavrec.Title(main), "Tavrec! [PAUSING]");
        tavrec.X("xdotool key ctrl+shift+F8");
        EXPECT_TRUE(WaitFor([&] { return tavrec.Title(main) == "Tavrec! [RECORDING]"; }, 20s))
            << "the start shortcut did not resume: " << tavrec.Title(main);
        std::this_thread::sleep_for(1s);
        // A key the program did not bind does nothing.
        tavrec.X("xdotool key ctrl+shift+F10");
        std::this_thread::sleep_for(1s);
        EXPECT_EQ(tavrec.Title(main), "Tavrec! [RECORDING]");

        tavrec.X("xdotool key ctrl+alt+s");
        ASSERT_TRUE(WaitFor([&] { return tavrec.Title(main) == "Tavrec!"; }, 60s))
            << "the stop shortcut did not stop: " << tavrec.Title(main);
        EXPECT_TRUE(tavrec.Terminate());
    }
    const auto streams = testkit::ProbeStreams(file);
    ASSERT_EQ(streams.size(), 1u) << "no playable recording";
    EXPECT_EQ(streams[0].at("width"), "640") << "not the Wayland output's size";
}

}  // namespace
