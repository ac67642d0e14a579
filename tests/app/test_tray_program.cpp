// links: tavrec_support_TavrecProcess tavrec_support_TempRegistry tavrec_support_MediaProbe tavrec_support_PrivateXServer tavrec_support_Shell tavrec_platform_x11
// tavrec as a user runs it with "Minimize While Recording": the window goes into the
// session's tray while recording and one click on the icon brings it back; a capture
// error in the tray (a file size limit) shows its box in the middle of the screen and
// then the window; on a display without a tray host the window stays on the screen;
// a tray host that refuses the icon or goes away brings the window back with an error.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <xcb/xcb.h>

#include "tests/support/MediaProbe.h"
#include "tests/support/PrivateXServer.h"
#include "tests/support/Shell.h"
#include "tests/support/TavrecProcess.h"
#include "tests/support/TempRegistry.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using testkit::Shell;
using testkit::WaitFor;
using testkit::kStartButton;
using testkit::kStopButton;

int Field(const std::string& xwininfo, const std::string& name) { return testkit::WindowField(xwininfo, name); }

// One tavrec process on `display` with its own settings, whose files may grow to
// `fileSizeLimit` bytes (0: no limit), its standard error into `errorFile` if given.
class Tavrec : public testkit::TavrecProcess {
public:
    Tavrec(const TempRegistry& registry, const std::string& display, rlim_t fileSizeLimit = 0,
           const std::string& errorFile = {})
        : TavrecProcess(registry, display, testkit::TavrecLaunch{fileSizeLimit, errorFile, {}})
    {
    }
};

// Video only, the whole screen at 5 frames per second into `file`, minimising
// while recording.
void Configure(const TempRegistry& registry, const std::string& file, const char* codec)
{
    registry.SetText(std::string("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\KELDAN\\TAVREC]\r\n") +
                     "\"BoolSection\"=hex:06,00,00,00\r\n\"CaptureSize\"=hex:01,00,00,00\r\n"
                     "\"FPS\"=hex:05,00,00,00\r\n\"SavedFile\"=\"" + file + "\"\r\n\"VCMDevice\"=\"" + codec + "\"\r\n");
}

struct Place {
    std::string id;
    int x = 0, y = 0;  // root coordinates of the top-left corner
};

// The program's icon docked in the session's tray host, if there is one.
Place TrayIconWindow()
{
    const std::string tree = Shell("xwininfo -root -tree 2>/dev/null");
    std::smatch m;
    if (!std::regex_search(tree, m, std::regex(R"((0x[0-9a-f]+) "Tavrec": \("tavrec" "Tavrec"\)\s+22x22\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+))")))
        return {};
    return {m[1], std::stoi(m[2]), std::stoi(m[3])};
}

bool TrayHostRunning() { return Shell("xwininfo -root -tree 2>/dev/null").find("(\"panel\" \"trayer\")") != std::string::npos; }

TEST(TrayProgram, RecordingHidesTheWindowIntoTheTrayAndOneClickOnTheIconRestoresIt)
{
    if (!TrayHostRunning())
        GTEST_SKIP() << "the session has no tray host";
    TempRegistry registry;
    testkit::TempDir dir;
    Configure(registry, dir.File("clip.avi"), "MJPEG (Motion JPEG)");
    Tavrec tavrec(registry, std::getenv("DISPLAY"));
    std::string main;
    ASSERT_TRUE(WaitFor([&] { return !(main = tavrec.Visible("Tavrec!")).empty(); }, 30s));
    std::this_thread::sleep_for(500ms);

    tavrec.ClickButton(main, kStartButton);
    Place icon;
    ASSERT_TRUE(WaitFor([&] { return !(icon = TrayIconWindow()).id.empty(); }, 60s)) << "no icon in the tray";
    EXPECT_TRUE(WaitFor([&] { return tavrec.Visible("Tavrec!.*").empty(); }, 5s)) << "window still shown";
    // The window hides before the library starts; the caption follows once it runs.
    ASSERT_TRUE(WaitFor([&] { return tavrec.Title(main) == "Tavrec! [RECORDING]"; }, 60s)) << tavrec.Title(main);
    EXPECT_TRUE(tavrec.Visible("Tavrec!.*").empty()) << "window shown again while recording";

    // Many tray hosts deliver no double click: one click is enough.
    Shell("xdotool mousemove --sync " + std::to_string(icon.x + 11) + " " + std::to_string(icon.y + 11) + " click 1");
    ASSERT_TRUE(WaitFor([&] { return !tavrec.Visible("Tavrec! \\[RECORDING\\]").empty(); }, 10s))
        << "the click on the icon did not restore the window";
    EXPECT_TRUE(WaitFor([&] { return TrayIconWindow().id.empty(); }, 5s)) << "the icon stayed in the tray";

    std::this_thread::sleep_for(500ms);
    tavrec.ClickButton(main, kStopButton);
    EXPECT_TRUE(WaitFor([&] { return tavrec.Title(main) == "Tavrec!"; }, 60s)) << tavrec.Title(main);
    EXPECT_FALSE(tavrec.Visible("Tavrec!").empty());
    EXPECT_TRUE(tavrec.Terminate());
    const auto streams = testkit::ProbeStreams(dir.File("clip.avi"));
    ASSERT_FALSE(streams.empty());
    EXPECT_EQ(streams[0].at("codec_type"), "video");
}

// The first uncompressed frame of the whole screen is larger than the program may
// write: the library stops with an error while the window is in the tray.
TEST(TrayProgram, CaptureErrorInTheTrayShowsItsBoxInTheMiddleOfTheScreenThenTheWindow)
{
    if (!TrayHostRunning())
        GTEST_SKIP() << "the session has no tray host";
    TempRegistry registry;
    testkit::TempDir dir;
    Configure(registry, dir.File("clip.avi"), "");
    Tavrec tavrec(registry, std::getenv("DISPLAY"), 2u << 20);
    std::string main;
    ASSERT_TRUE(WaitFor([&] { return !(main = tavrec.Visible("Tavrec!")).empty(); }, 30s));
    std::this_thread::sleep_for(500ms);
    tavrec.ClickButton(main, kStartButton);

    std::string box;
    ASSERT_TRUE(WaitFor([&] { return !(box = tavrec.Visible("Error")).empty() || !tavrec.Running(); }, 30s));
    ASSERT_TRUE(tavrec.Running()) << "the program ended at the file size limit";
    ASSERT_FALSE(box.empty()) << "no error box";
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(tavrec.Visible("Tavrec!.*").empty()) << "the window left the tray before the box";
    const std::string info = Shell("xwininfo -id " + box);
    const std::string screen = Shell("xdotool getdisplaygeometry");
    int width = 0, height = 0;
    ASSERT_EQ(std::sscanf(screen.c_str(), "%d %d", &width, &height), 2);
    const int cx = Field(info, "Absolute upper-left X") + Field(info, "Width") / 2;
    const int cy = Field(info, "Absolute upper-left Y") + Field(info, "Height") / 2;
    EXPECT_NEAR(cx, width / 2, 40);
    EXPECT_NEAR(cy, height / 2, 40);
    EXPECT_NE(Shell("xprop -id " + box + " _NET_WM_STATE").find("_NET_WM_STATE_ABOVE"), std::string::npos);

    // Every error box answered (Yes is the only button), then the window is back.
    ASSERT_TRUE(WaitFor([&] {
        if (std::string next = tavrec.Visible("Error"); !next.empty())
            Shell("xdotool windowactivate --sync " + next + " key Return 2>/dev/null");
        return !tavrec.Visible("Tavrec!").empty() || !tavrec.Running();
    }, 30s));
    // Closing the last shown box while the window was hidden does not end the program.
    ASSERT_TRUE(tavrec.Running());
    EXPECT_EQ(tavrec.Title(main), "Tavrec!");
    EXPECT_TRUE(TrayIconWindow().id.empty());
    EXPECT_TRUE(tavrec.Terminate());
    EXPECT_FALSE(testkit::ProbeStreams(dir.File("clip.avi")).empty()) << "the cut file does not read";
}

TEST(TrayProgram, WithoutATrayHostTheWindowStaysOnTheScreenWhileRecording)
{
    testkit::PrivateXServer server("800x600x24");
    ASSERT_TRUE(server.Running());
    TempRegistry registry;
    testkit::TempDir dir;
    Configure(registry, dir.File("clip.avi"), "MJPEG (Motion JPEG)");
    Tavrec tavrec(registry, server.Display());
    std::string main;
    ASSERT_TRUE(WaitFor([&] { return !(main = tavrec.Visible("Tavrec!")).empty(); }, 30s));
    std::this_thread::sleep_for(500ms);
    tavrec.ClickButton(main, kStartButton);
    ASSERT_TRUE(WaitFor([&] { return tavrec.Title(main) == "Tavrec! [RECORDING]"; }, 60s)) << tavrec.Title(main);
    std::this_thread::sleep_for(1s);
    EXPECT_FALSE(tavrec.Visible("Tavrec! \\[RECORDING\\]").empty()) << "the window vanished";
    tavrec.ClickButton(main, kStopButton);
    EXPECT_TRUE(WaitFor([&] { return tavrec.Title(main) == "Tavrec!"; }, 60s));
    EXPECT_TRUE(tavrec.Terminate());
}

// A real tray host (trayer) on a display of the test's own, ended by its process id.
class TrayerOn {
public:
    explicit TrayerOn(const std::string& display)
    {
        pid_ = fork();
        if (pid_ == 0) {
            setenv("DISPLAY", display.c_str(), 1);
            execlp("trayer", "trayer", "--edge", "bottom", "--align", "right", "--widthtype", "request", "--height",
                   "24", "--transparent", "false", "--expand", "false", static_cast<char*>(nullptr));
            _exit(127);
        }
        display_ = display;
    }
    ~TrayerOn() { Kill(); }
    bool Ready() const
    {
        return WaitFor([this] {
            return Shell("DISPLAY=" + display_ + " xwininfo -root -tree 2>/dev/null").find("(\"panel\" \"trayer\")") !=
                   std::string::npos;
        }, 30s);
    }
    void Kill()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

private:
    pid_t pid_ = -1;
    std::string display_;
};

// A tray host that owns the tray selection and announces itself, but never embeds
// an icon: the dock requests sent to it are left unread.
class RefusingTrayHost {
public:
    explicit RefusingTrayHost(const std::string& display) : c_(xcb_connect(display.c_str(), nullptr))
    {
        if (xcb_connection_has_error(c_))
            return;
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        const xcb_window_t window = xcb_generate_id(c_);
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        const xcb_atom_t selection = Atom("_NET_SYSTEM_TRAY_S0");
        xcb_set_selection_owner(c_, window, selection, XCB_CURRENT_TIME);
        xcb_client_message_event_t manager{};
        manager.response_type = XCB_CLIENT_MESSAGE;
        manager.format = 32;
        manager.window = screen->root;
        manager.type = Atom("MANAGER");
        manager.data.data32[0] = XCB_CURRENT_TIME;
        manager.data.data32[1] = selection;
        manager.data.data32[2] = window;
        xcb_send_event(c_, 0, screen->root, XCB_EVENT_MASK_STRUCTURE_NOTIFY, reinterpret_cast<const char*>(&manager));
        auto* owner = xcb_get_selection_owner_reply(c_, xcb_get_selection_owner(c_, selection), nullptr);
        owns_ = owner && owner->owner == window;
        std::free(owner);
    }
    ~RefusingTrayHost() { xcb_disconnect(c_); }
    bool Owns() const { return owns_; }

private:
    xcb_atom_t Atom(const char* name)
    {
        auto* reply = xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t atom = reply ? reply->atom : XCB_NONE;
        std::free(reply);
        return atom;
    }

    xcb_connection_t* c_;
    bool owns_ = false;
};

// Starts a recording that minimises to the tray host of `server`, runs `loseTheIcon`
// once the program has hidden its window, and expects the error box and the window
// back on the screen, the recording going on.
void ExpectTheWindowBackWithTheTrayError(testkit::PrivateXServer& server, const std::function<void()>& loseTheIcon)
{
    TempRegistry registry;
    testkit::TempDir dir;
    Configure(registry, dir.File("clip.avi"), "MJPEG (Motion JPEG)");
    const std::string errors = dir.File("stderr.txt");
    Tavrec tavrec(registry, server.Display(), 0, errors);
    std::string main;
    ASSERT_TRUE(WaitFor([&] { return !(main = tavrec.Visible("Tavrec!")).empty(); }, 30s));
    std::this_thread::sleep_for(500ms);
    tavrec.ClickButton(main, kStartButton);
    ASSERT_TRUE(WaitFor([&] { return tavrec.Visible("Tavrec!.*").empty(); }, 30s)) << "the window was not hidden";
    loseTheIcon();

    std::string box;
    ASSERT_TRUE(WaitFor([&] { return !(box = tavrec.Visible("Tavrec", 100)).empty() || !tavrec.Running(); }, 30s))
        << "no error box; the program's standard error: " << TempRegistry::ReadFile(errors)
        << "; the windows: " << tavrec.X("xwininfo -root -tree");
    ASSERT_TRUE(tavrec.Running());
    EXPECT_FALSE(tavrec.Visible("Tavrec!.*").empty()) << "the window is not back under the box";
    // The box's text also goes to the standard error.
    EXPECT_NE(TempRegistry::ReadFile(errors).find("Cannot Create System Shell Notification Icon."), std::string::npos)
        << TempRegistry::ReadFile(errors);
    // No window manager on this display: the box gets the focus directly.
    tavrec.X("xdotool windowfocus --sync " + box + " key Return");
    ASSERT_TRUE(WaitFor([&] { return tavrec.Visible("Tavrec", 100).empty(); }, 10s)) << "the box did not close";
    ASSERT_TRUE(WaitFor([&] { return tavrec.Title(main) == "Tavrec! [RECORDING]"; }, 60s)) << tavrec.Title(main);
    EXPECT_FALSE(tavrec.Visible("Tavrec! \\[RECORDING\\]").empty()) << "the window went away again";
    tavrec.ClickButton(main, kStopButton);
    EXPECT_TRUE(WaitFor([&] { return tavrec.Title(main) == "Tavrec!"; }, 60s)) << tavrec.Title(main);
    EXPECT_TRUE(tavrec.Terminate());
    const auto streams = testkit::ProbeStreams(dir.File("clip.avi"));
    ASSERT_FALSE(streams.empty());
}

TEST(TrayProgram, ATrayHostThatGoesAwayBringsTheWindowBackWithTheError)
{
    testkit::PrivateXServer server("800x600x24");
    ASSERT_TRUE(server.Running());
    TrayerOn trayer(server.Display());
    ASSERT_TRUE(trayer.Ready()) << "trayer did not start";
    ExpectTheWindowBackWithTheTrayError(server, [&] {
        // The icon is docked first; then the host is gone.
        const std::regex icon(R"("Tavrec": \("tavrec" "Tavrec"\)\s+22x22)");
        ASSERT_TRUE(WaitFor([&] {
            return std::regex_search(Shell("DISPLAY=" + server.Display() + " xwininfo -root -tree 2>/dev/null"), icon);
        }, 30s)) << "no icon in the tray";
        trayer.Kill();
    });
}

TEST(TrayProgram, ATrayHostThatRefusesTheIconBringsTheWindowBackWithTheError)
{
    testkit::PrivateXServer server("800x600x24");
    ASSERT_TRUE(server.Running());
    RefusingTrayHost host(server.Display());
    ASSERT_TRUE(host.Owns());
    ExpectTheWindowBackWithTheTrayError(server, [] {});
}

}  // namespace
