// links: korvid tavrec_platform_portal tavrec_support_Recording tavrec_support_MediaProbe tavrec_support_Shell
// The choice between the X11 grab and the desktop portal, on the X11 desktop session:
// X11 stays the source wherever its grab sees the desktop, even when a Wayland session
// is named, and a recording made there goes through X11 as before.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/portal/ScreenSourceChoice.h"
#include "tests/support/MediaProbe.h"
#include "tests/support/Recording.h"
#include "tests/support/Shell.h"

namespace {

using platform::ChooseScreenSource;
using platform::ScreenSourceKind;

// Sets (or, with null, removes) environment variables for a scope.
class Env {
public:
    void Set(const char* name, const char* value)
    {
        const char* old = std::getenv(name);
        saved_.push_back({name, old ? old : "", old != nullptr});
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~Env()
    {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->had)
                setenv(it->name.c_str(), it->value.c_str(), 1);
            else
                unsetenv(it->name.c_str());
        }
    }

private:
    struct Saved {
        std::string name, value;
        bool had;
    };
    std::vector<Saved> saved_;
};

class ScreenSourceChoice : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* display = std::getenv("DISPLAY");
        if (!display || !*display)
            GTEST_SKIP() << "needs the X11 desktop session (tests/desktop-session.sh)";
        env_.Set("WAYLAND_DISPLAY", nullptr);
        env_.Set("XDG_SESSION_TYPE", nullptr);
        env_.Set("TAVREC_SCREEN_SOURCE", nullptr);
    }
    Env env_;
};

TEST_F(ScreenSourceChoice, AnX11SessionKeepsTheX11Grab)
{
    auto choice = ChooseScreenSource();
    EXPECT_EQ(choice.kind, ScreenSourceKind::X11);
    EXPECT_EQ(choice.reason, "the session is not Wayland");

    // A Wayland session named while the X display shows a desktop of its own (a
    // nested or remote X server): its grab still sees what is to be recorded.
    env_.Set("WAYLAND_DISPLAY", "wayland-0");
    choice = ChooseScreenSource();
    EXPECT_EQ(choice.kind, ScreenSourceKind::X11);
    EXPECT_EQ(choice.reason, "WAYLAND_DISPLAY is set, but the X display " + std::string(std::getenv("DISPLAY")) +
                                 " shows its own desktop");
    EXPECT_EQ(ChooseScreenSource("auto").kind, ScreenSourceKind::X11);
    EXPECT_EQ(ChooseScreenSource("portal").kind, ScreenSourceKind::Portal);  // forced
}

TEST_F(ScreenSourceChoice, AWaylandSessionWithoutAUsableXDisplayTakesThePortal)
{
    env_.Set("XDG_SESSION_TYPE", "wayland");
    env_.Set("DISPLAY", nullptr);
    auto choice = ChooseScreenSource();
    EXPECT_EQ(choice.kind, ScreenSourceKind::Portal);
    EXPECT_EQ(choice.reason, "XDG_SESSION_TYPE is wayland and no X display is set");

    env_.Set("DISPLAY", ":32700");  // nobody's
    choice = ChooseScreenSource();
    EXPECT_EQ(choice.kind, ScreenSourceKind::Portal);
    EXPECT_EQ(choice.reason, "XDG_SESSION_TYPE is wayland and the X display :32700 does not answer");

    env_.Set("TAVREC_SCREEN_SOURCE", "x11");
    EXPECT_EQ(ChooseScreenSource().kind, ScreenSourceKind::X11);
}

TEST_F(ScreenSourceChoice, KorvidRecListsTheX11Grab)
{
    const std::string rec = TAVREC_BINARY_DIR "/bin/korvid-rec";
    const std::string out = testkit::Shell("'" + rec + "' --list-sources");
    EXPECT_NE(out.find("x11     the X11 grab"), std::string::npos) << out;
    EXPECT_NE(out.find("portal  the desktop portal's screen cast"), std::string::npos) << out;
    EXPECT_NE(out.find("using: x11 (the session is not Wayland)"), std::string::npos) << out;
    EXPECT_NE(testkit::Shell("WAYLAND_DISPLAY=wayland-0 '" + rec + "' --list-sources | tail -n 1").find("using: x11"),
              std::string::npos);
}

// The library's own choice: with a Wayland session named but a readable X display, it
// records through X11 (the portal, absent from this session, would fail).
TEST_F(ScreenSourceChoice, TheLibraryRecordsThroughX11WhenX11SeesTheDesktop)
{
    env_.Set("WAYLAND_DISPLAY", "wayland-0");
    testkit::TempDir dir;
    const std::string file = dir.File("x11.avi");
    {
        testkit::Recording recording(0, file, 10);
        std::string error;
        ASSERT_TRUE(recording.Begin(&error)) << error;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        ASSERT_TRUE(recording.Stop()) << testkit::LastErrorText();
    }
    const auto streams = testkit::ProbeStreams(file);
    ASSERT_EQ(streams.size(), 1u);
    const std::string size = testkit::Shell("xdpyinfo | awk '/dimensions:/ {print $2}'");
    EXPECT_EQ(streams[0].at("width") + "x" + streams[0].at("height"), size);  // the X screen's size
}

}  // namespace
