// links: tavrec_support_MediaProbe tavrec_support_Shell
// korvid-rec on a Wayland desktop: which source it takes and why, and what it says
// when the portal refuses.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "tests/support/MediaProbe.h"
#include "tests/support/Shell.h"

namespace {

const std::string kRec = TAVREC_BINARY_DIR "/bin/korvid-rec";
const std::string kSession = TAVREC_SOURCE_DIR "/tests/wayland-session.sh";

std::string Quoted(const std::string& text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

class KorvidRecPortal : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* display = std::getenv("WAYLAND_DISPLAY");
        if (!display || !*display)
            GTEST_SKIP() << "needs the headless Wayland session (tests/wayland-session.sh)";
    }
    testkit::TempDir dir_;
};

// Records 2 s with korvid-rec (its command line after `environment`, e.g. "DISPLAY=:1"),
// painting the output in `colour` once the recording runs: frames come only on
// change. Expects the recording to go through the portal and to end in that colour.
void ExpectRecordsThePaint(const std::string& environment, const char* colour, uint32_t rgb, const std::string& file)
{
    int code = 0;
    std::string err;
    testkit::RunCapture({"sh", "-c",
                         std::string("(sleep 0.5; swaymsg -q output HEADLESS-1 bg '") + colour + "' solid_color) & " +
                             environment + " " + Quoted(kRec) + " --fps 10 --seconds 2 " + Quoted(file) +
                             "; r=$?; wait; exit $r"},
                        &code, &err);
    ASSERT_EQ(code, 0) << err;
    EXPECT_NE(err.find("recording the screen through the desktop portal"), std::string::npos) << err;
    const auto frames = testkit::DecodeVideo(file, "bgr0", 640, 480, 4);
    ASSERT_FALSE(frames.empty());
    const auto& last = frames.back();
    EXPECT_EQ((uint32_t{last[2]} << 16 | uint32_t{last[1]} << 8 | last[0]), rgb);
}

TEST_F(KorvidRecPortal, ListSourcesSaysItTakesThePortalAndWhy)
{
    EXPECT_EQ(testkit::Shell(Quoted(kRec) + " --list-sources | tail -n 1"),
              "using: portal (WAYLAND_DISPLAY is set and no X display is set)");
    EXPECT_EQ(testkit::Shell(Quoted(kRec) + " --source x11 --list-sources | tail -n 1"),
              "using: x11 (the X11 grab was asked for)");
    // Forced to X11 without an X display, it says so and makes no file.
    const std::string file = dir_.File("x11.avi");
    int code = 0;
    std::string err;
    testkit::RunCapture({kRec, "--source", "x11", "--seconds", "1", file}, &code, &err);
    EXPECT_EQ(code, 1);
    EXPECT_NE(err.find("korvid-rec: cannot open the X display"), std::string::npos) << err;
    struct stat st;
    EXPECT_NE(stat(file.c_str(), &st), 0);
}

// Under the session's XWayland, the root window cannot be read: the X11 grab forced
// there fails with the X error, and by itself korvid-rec takes the portal and says why.
TEST_F(KorvidRecPortal, UnderXWaylandThePortalIsTakenBecauseTheRootCannotBeRead)
{
    const char* xwayland = std::getenv("TAVREC_XWAYLAND_DISPLAY");
    if (!xwayland || !*xwayland)
        GTEST_SKIP() << "the Wayland session has no XWayland";
    const std::string display = std::string("DISPLAY=") + xwayland;
    EXPECT_EQ(testkit::Shell(display + " " + Quoted(kRec) + " --list-sources | tail -n 1"),
              std::string("using: portal (WAYLAND_DISPLAY is set and the X display ") + xwayland +
                  " cannot read its root window)");

    int code = 0;
    std::string err;
    testkit::RunCapture({"env", display, kRec, "--source", "x11", "--seconds", "1", dir_.File("x11.avi")}, &code,
                        &err);
    EXPECT_EQ(code, 1);
    EXPECT_NE(err.find("Failed to grab the screen: GetImage: X error BadMatch"), std::string::npos) << err;

    ExpectRecordsThePaint(display, "#1e90ff", 0x1e90ff, dir_.File("auto.avi"));
}

// A Wayland session of its own whose portal refuses every screen cast: its wlroots
// back end, without the test shim, finds no screen format it accepts.
TEST_F(KorvidRecPortal, ARefusingPortalIsReportedAndLeavesNoFile)
{
    const std::string file = dir_.File("refused.avi");
    int code = 0;
    std::string err;
    // The session ends well whatever korvid-rec does (so it leaves no logs behind);
    // korvid-rec's own exit status is printed.
    const std::string out = testkit::RunCapture(
        {"env", "TAVREC_SCREENCOPY_SHIM=none", "TAVREC_SESSION_QUIET=1", kSession, "sh", "-c",
         Quoted(kRec) + " --source portal --seconds 1 " + Quoted(file) + "; echo exit $?"},
        &code, &err);
    EXPECT_EQ(code, 0) << err;
    EXPECT_EQ(out, "exit 1\n") << err;
    EXPECT_NE(err.find("korvid-rec: cannot start recording: Failed to start the screen cast: the portal refused the "
                       "screen cast (Start answered 2)"),
              std::string::npos)
        << err;
    struct stat st;
    EXPECT_NE(stat(file.c_str(), &st), 0) << "a file was left";
}

TEST_F(KorvidRecPortal, RecordsThroughThePortalWithoutAnXDisplay)
{
    ExpectRecordsThePaint("", "#20c040", 0x20c040, dir_.File("rec.avi"));
}

}  // namespace
