// links: tavrec_support_TavrecProcess tavrec_support_TempRegistry tavrec_support_MediaProbe tavrec_support_PrivateXServer tavrec_support_Shell
// The program on a Wayland desktop. It runs there under XWayland, which cannot show
// the desktop (its root window cannot be read), and chooses the portal by itself.
// Asked for a window where the portal offers only monitors, it says so and records
// the monitor; the portal's restore token is kept in the settings; drawing is off
// and the program says why.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <regex>
#include <string>
#include <thread>

#include "tests/support/MediaProbe.h"
#include "tests/support/PrivateXServer.h"
#include "tests/support/Shell.h"
#include "tests/support/TavrecProcess.h"
#include "tests/support/TempRegistry.h"

namespace {

using namespace std::chrono_literals;
using testkit::Shell;
using testkit::WaitFor;

bool InWaylandSession()
{
    const char* display = std::getenv("WAYLAND_DISPLAY");
    const char* sway = std::getenv("SWAYSOCK");
    return display && *display && sway && *sway;
}

// Video only, a window to record (CaptureSize 2), 10 frames per second, uncompressed.
void Configure(const TempRegistry& registry, const std::string& file)
{
    registry.SetText(std::string("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\KELDAN\\TAVREC]\r\n") +
                     "\"BoolSection\"=hex:02,00,00,00\r\n\"CaptureSize\"=hex:02,00,00,00\r\n"
                     "\"FPS\"=hex:0a,00,00,00\r\n\"SavedFile\"=\"" + file + "\"\r\n");
}

// A visible window of the program other than `main`: a message box.
std::string OtherWindow(const testkit::TavrecProcess& tavrec, const std::string& main)
{
    const std::string ids = tavrec.X("xdotool search --onlyvisible --pid " + std::to_string(tavrec.Pid()));
    for (size_t at = 0; at < ids.size();) {
        const size_t end = std::min(ids.find('\n', at), ids.size());
        const std::string id = ids.substr(at, end - at);
        if (!id.empty() && id != main)
            return id;
        at = end + 1;
    }
    return {};
}

std::string Stored(const TempRegistry& registry, const std::string& name)
{
    std::smatch m;
    const std::string text = registry.Text();
    if (!std::regex_search(text, m, std::regex("\"" + name + "\"=\"([^\"]*)\"")))
        return {};
    return m[1];
}

TEST(PortalProgram, RecordsTheMonitorForAWindowKeepsTheTokenAndLeavesDrawingOff)
{
    if (!InWaylandSession())
        GTEST_SKIP() << "needs the headless Wayland session (tests/wayland-session.sh)";
    const char* xwayland = std::getenv("TAVREC_XWAYLAND_DISPLAY");
    if (!xwayland || !*xwayland)
        GTEST_SKIP() << "the Wayland session has no XWayland";
    TempRegistry registry;
    testkit::TempDir dir;
    const std::string file = dir.File("clip.avi");
    const std::string errors = dir.File("stderr.txt");
    Configure(registry, file);
    testkit::TavrecLaunch launch;
    launch.errorFile = errors;
    launch.environment = {{"TAVREC_SCREEN_SOURCE", ""}};
    {
        testkit::TavrecProcess tavrec(registry, xwayland, launch);
        std::string main;
        ASSERT_TRUE(WaitFor([&] { return !(main = tavrec.Visible("Tavrec!")).empty(); }, 30s));
        std::this_thread::sleep_for(500ms);
        tavrec.ClickButton(main, testkit::kStartButton);

        // No pick: the portal offers no windows, which a box says before the monitor
        // is recorded.
        bool boxShown = false;
        ASSERT_TRUE(WaitFor([&] {
            if (const std::string box = OtherWindow(tavrec, main); !box.empty()) {
                boxShown = true;
                tavrec.X("xdotool windowfocus --sync " + box + " key Return 2>/dev/null");
            }
            return tavrec.Title(main) == "Tavrec! [RECORDING]" || !tavrec.Running();
        }, 60s)) << tavrec.Title(main) << "; said: " << TempRegistry::ReadFile(errors);
        EXPECT_TRUE(boxShown) << "recorded the monitor for a window without saying so";
        std::this_thread::sleep_for(2s);
        tavrec.ClickButton(main, testkit::kStopButton);
        ASSERT_TRUE(WaitFor([&] {
            if (const std::string box = OtherWindow(tavrec, main); !box.empty())
                tavrec.X("xdotool windowfocus --sync " + box + " key Return 2>/dev/null");
            return tavrec.Title(main) == "Tavrec!";
        }, 60s));
        EXPECT_TRUE(tavrec.Terminate());
    }

    const auto streams = testkit::ProbeStreams(file);
    ASSERT_EQ(streams.size(), 1u) << "no playable recording";
    EXPECT_EQ(streams[0].at("width"), "640") << "not the Wayland output's size";
    EXPECT_EQ(streams[0].at("height"), "480");
    // Kept for the monitor the portal shared, not for a window.
    EXPECT_FALSE(Stored(registry, "ScreenCastToken").empty()) << registry.Text();
    EXPECT_TRUE(Stored(registry, "ScreenCastWindowToken").empty());
    const std::string said = TempRegistry::ReadFile(errors);
    EXPECT_NE(said.find("recording through the desktop portal"), std::string::npos) << said;
    EXPECT_NE(said.find("Drawing on the screen is off"), std::string::npos) << said;
    EXPECT_NE(said.find("cannot read its root window"), std::string::npos) << "chose the portal for another reason: "
                                                                           << said;
}

}  // namespace
