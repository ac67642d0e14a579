// links: tavrec_support_TempRegistry tavrec_support_TestWindow tavrec_support_MediaProbe
// tavrec as a user drives it with the mouse (xdotool) in the headless session: the
// record button starts a pick over two windows, the cyan frame follows the pointer
// and leaves no trace on the window it left, a left press records that window, the
// draw button and a pen stroke put a line on the screen and into the file (decoded
// with ffmpeg), with and without fast drawing, and the stop button ends it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <regex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "tests/support/MediaProbe.h"
#include "tests/support/TempRegistry.h"
#include "tests/support/TestWindow.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testsupport::TestWindow;

constexpr int kW = 320, kH = 240;

std::string Sh(const std::string& command)
{
    return testkit::RunCapture({"sh", "-c", command});
}

// The root window's pixels over a rectangle, 0xRRGGBB each, read on a connection of
// the test's own.
class RootReader {
public:
    RootReader() : c_(xcb_connect(nullptr, nullptr)) {}
    ~RootReader() { xcb_disconnect(c_); }
    std::vector<uint32_t> Pixels(int x, int y, int w, int h)
    {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
        std::vector<uint32_t> out;
        auto* reply = xcb_get_image_reply(c_,
                                          xcb_get_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, root, int16_t(x), int16_t(y),
                                                        uint16_t(w), uint16_t(h), ~0u),
                                          nullptr);
        if (!reply)
            return out;
        out.resize(size_t(w) * h);
        std::memcpy(out.data(), xcb_get_image_data(reply), out.size() * 4);
        for (uint32_t& p : out)
            p &= 0xFFFFFF;
        std::free(reply);
        return out;
    }
    uint32_t At(int x, int y) { return Pixels(x, y, 1, 1).at(0); }

private:
    xcb_connection_t* c_;
};

// Waits until pred() holds (the program and the server take their time).
template <class Pred>
bool WaitUntil(Pred pred, std::chrono::milliseconds timeout = 10s)
{
    for (auto end = Clock::now() + timeout; Clock::now() < end; std::this_thread::sleep_for(30ms))
        if (pred())
            return true;
    return pred();
}

class Tavrec {
public:
    Tavrec(const std::string& registry, const std::string& runtimeDir) : stderr_(runtimeDir + "/stderr")
    {
        std::vector<std::string> env{"TAVREC_REGISTRY=" + registry, "XDG_RUNTIME_DIR=" + runtimeDir,
                                     "QT_QPA_PLATFORM=xcb"};
        std::vector<char*> envp;
        for (char** e = environ; *e; ++e)
            if (std::strncmp(*e, "TAVREC_REGISTRY=", 16) && std::strncmp(*e, "XDG_RUNTIME_DIR=", 16))
                envp.push_back(*e);
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        const std::string program = TAVREC_BINARY_DIR "/bin/tavrec";
        char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, stderr_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv, envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Tavrec()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            for (int i = 0; i < 100 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i)
                std::this_thread::sleep_for(50ms);
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    std::string StandardError() const { return TempRegistry::ReadFile(stderr_); }
    // The main window with exactly this title.
    std::string Window(const std::string& title) const
    {
        std::string found;
        WaitUntil([&] {
            const std::string ids = Sh("xdotool search --onlyvisible --pid " + std::to_string(pid_) + " 2>/dev/null");
            static const std::regex number("\\d+");
            for (auto it = std::sregex_iterator(ids.begin(), ids.end(), number);
                 it != std::sregex_iterator(); ++it)
                if (Sh("xdotool getwindowname " + it->str() + " 2>/dev/null") == title + "\n") {
                    found = it->str();
                    return true;
                }
            return false;
        }, 20s);
        return found;
    }
    // Clicks the toolbar at x (pixels from the client area's left edge).
    void ClickToolbar(const std::string& window, int x)
    {
        Sh("xdotool mousemove --window " + window + " " + std::to_string(x) + " 15 click 1");
    }

private:
    pid_t pid_ = -1;
    std::string stderr_;
};

std::unique_ptr<TestWindow> MakeWindow(int x, int y)
{
    testsupport::TestWindowOptions options;
    options.overrideRedirect = true;
    options.x = x;
    options.y = y;
    options.width = kW;
    options.height = kH;
    std::string error;
    auto window = TestWindow::Create(options, &error);
    EXPECT_TRUE(window) << error;
    return window;
}

// The toolbar while recording: Record 0, Stop 32, ..., draw mode at 332.
constexpr int kRecordX = 16, kStopX = 48, kSwitchModeX = 348;

// Fast drawing on or off; Speedup Mode on or off.
class DrawingSession : public ::testing::TestWithParam<std::tuple<bool, bool>> {};

TEST_P(DrawingSession, PickedWindowIsRecordedWithThePenStrokeDrawnOnIt)
{
    const bool fast = std::get<0>(GetParam());
    const bool speedup = std::get<1>(GetParam());
    TempRegistry registry;
    const std::string runtime = registry.Dir() + "/run";
    ASSERT_EQ(mkdir(runtime.c_str(), 0700), 0);
    const std::string file = registry.Dir() + "/picked.avi";
    // Video only (fast drawing bit 0x20, Speedup Mode 0x10 when asked), a window picked
    // at each start, 10 fps, a green pen 5 pixels wide, the tool window top right, out of
    // the way.
    registry.SetText(std::string("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\KELDAN\\TAVREC]\r\n") +
                     "\"PenColor\"=hex:00,ff,00,00\r\n\"PenSize\"=dword:00000005\r\n" +
                     "\"APLeft\"=dword:000005dc\r\n\"APTop\"=dword:00000014\r\n" +
                     "\"BoolSection\"=hex:" + std::string(1, "0123"[(fast ? 2 : 0) + (speedup ? 1 : 0)]) +
                     "2,00,00,00\r\n" +
                     "\"CaptureSize\"=hex:02,00,00,00\r\n\"FPS\"=hex:0a,00,00,00\r\n" + "\"SavedFile\"=\"" + file +
                     "\"\r\n");
    auto left = MakeWindow(200, 300);
    auto right = MakeWindow(600, 300);
    ASSERT_TRUE(left && right);
    RootReader root;
    Sh("xdotool mousemove 100 100");
    const auto leftBefore = root.Pixels(200, 300, kW, kH);

    Tavrec tavrec(registry.Path(), runtime);
    const std::string main = tavrec.Window("Tavrec!");
    ASSERT_FALSE(main.empty()) << tavrec.StandardError();
    std::this_thread::sleep_for(300ms);
    tavrec.ClickToolbar(main, kRecordX);

    // The pick: the frame goes onto the window under the pointer (XOR cyan, 3 px from
    // one pixel inside the top-left corner)...
    Sh("xdotool mousemove 300 400");
    const uint32_t leftPicture = left->ExpectedFramePixel(2, 100, 0) & 0xFFFFFF;
    ASSERT_TRUE(WaitUntil([&] { return root.At(202, 400) == (leftPicture ^ 0x00FFFF); }))
        << "no highlight on the window under the pointer";
    EXPECT_EQ(root.At(200, 400), left->ExpectedFramePixel(0, 100, 0) & 0xFFFFFF) << "the left column stays";
    // ...and moves with it, leaving the old window's pixels exactly as they were.
    Sh("xdotool mousemove 700 400");
    const uint32_t rightPicture = right->ExpectedFramePixel(2, 100, 0) & 0xFFFFFF;
    ASSERT_TRUE(WaitUntil([&] { return root.At(602, 400) == (rightPicture ^ 0x00FFFF); }));
    EXPECT_EQ(root.Pixels(200, 300, kW, kH), leftBefore);

    // A left press records the window under the pointer.
    Sh("xdotool click 1");
    ASSERT_FALSE(tavrec.Window("Tavrec! [RECORDING]").empty()) << tavrec.StandardError();
    EXPECT_TRUE(WaitUntil([&] { return root.At(602, 400) == rightPicture; })) << "the frame is wiped";

    // Draw mode from its button, then at once a stroke across the right window: the
    // program says where it draws once the hook has the pen.
    tavrec.ClickToolbar(main, kSwitchModeX);
    ASSERT_TRUE(WaitUntil([&] { return tavrec.StandardError().find("tavrec: drawing on the root window") !=
                                       std::string::npos; }))
        << tavrec.StandardError();
    Sh("xdotool mousemove 620 360 mousedown 1");
    for (int x = 640; x <= 880; x += 40)
        Sh("xdotool mousemove " + std::to_string(x) + " 360");
    Sh("xdotool mouseup 1");
    EXPECT_TRUE(WaitUntil([&] { return root.At(750, 360) == 0x00FF00; })) << "the line is on the screen";
    EXPECT_EQ(root.At(750, 380), right->ExpectedFramePixel(150, 80, 0) & 0xFFFFFF);
    EXPECT_EQ(root.At(950, 360), root.At(950, 370)) << "clipped to the recorded window";
    std::this_thread::sleep_for(1s);
    if (fast) {
        // A kept frame with the line added: a change of the window is not grabbed.
        right->Paint(7);
        std::this_thread::sleep_for(1s);
    }

    // The stop button stays clickable in draw mode.
    tavrec.ClickToolbar(main, kStopX);
    ASSERT_FALSE(tavrec.Window("Tavrec!").empty());
    EXPECT_TRUE(WaitUntil([&] { return root.At(750, 360) != 0x00FF00; })) << "the stop repaints the screen";

    auto streams = testkit::ProbeStreams(file);
    ASSERT_EQ(streams.size(), 1u) << file;
    EXPECT_EQ(streams[0]["width"], std::to_string(kW));
    EXPECT_EQ(streams[0]["height"], std::to_string(kH));
    const auto frames = testkit::DecodeVideo(file, "bgr0", kW, kH, 4);
    // In Speedup Mode only the slots in which something changed hold a frame: the
    // first, those of the pick's end and of the stroke (pointer and line).
    ASSERT_GE(frames.size(), speedup ? 3u : 10u);
    const auto& last = frames.back();
    const auto at = [&](int x, int y) {
        uint32_t v;
        std::memcpy(&v, &last[(size_t(y) * kW + x) * 4], 4);
        return v & 0xFFFFFF;
    };
    EXPECT_EQ(at(150, 60), 0x00FF00u) << "the stroke is in the recording";
    EXPECT_EQ(at(270, 61), 0x00FF00u);
    // A pixel whose colour differs between pictures 0 and 7.
    int px = -1;
    for (int x = 0; x < kW && px < 0; ++x)
        if (right->ColorAt(x, 150, 0) != right->ColorAt(x, 150, 7))
            px = x;
    ASSERT_GE(px, 0);
    EXPECT_EQ(at(px, 150), right->ExpectedFramePixel(px, 150, 0) & 0xFFFFFF)
        << (fast ? "the kept frame" : "the window as it was") << " at x " << px << "; picture 7 there: "
        << std::hex << (right->ExpectedFramePixel(px, 150, 7) & 0xFFFFFF);
}

INSTANTIATE_TEST_SUITE_P(FastDraw, DrawingSession, ::testing::Combine(::testing::Bool(), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) ? "FastDrawOn" : "FastDrawOff") +
                                    (std::get<1>(info.param) ? "Speedup" : "");
                         });

}  // namespace
