// links: tavrechcore tavrec_support_TestWindow
// The hook component against the real X server and window manager of the headless
// session, driven through the real pointer (xdotool): the pick hook's window reports
// and presses, a refused grab, the draw hook's strokes and menu (the first stroke also
// right after a pick), the tool window left out of its input (also after it moves, and
// under a compositing manager), and that switching a hook off leaves neither thread nor
// window behind.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "tavrechcore/tavrechcore.h"
#include "tests/support/TestWindow.h"

extern char** environ;

using testsupport::TestMessage;
using testsupport::TestWindow;
using testsupport::TestWindowOptions;

namespace {

constexpr auto kWait = std::chrono::seconds(10);

template <typename T>
struct FreeDeleter {
    void operator()(T* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter<T>>;

void Xdo(const std::string& args)
{
    ASSERT_EQ(std::system(("xdotool " + args).c_str()), 0) << args;
}

int32_t Packed(int x, int y) { return y << 16 | x; }

int ThreadCount()
{
    int n = 0;
    DIR* dir = opendir("/proc/self/task");
    while (dirent* entry = readdir(dir))
        n += entry->d_name[0] != '.';
    closedir(dir);
    return n;
}

std::unique_ptr<TestWindow> MakeWindow(int x, int y, int width = 320, int height = 240,
                                       bool overrideRedirect = false)
{
    TestWindowOptions options;
    options.overrideRedirect = overrideRedirect;
    options.x = x;
    options.y = y;
    options.width = width;
    options.height = height;
    std::string error;
    auto window = TestWindow::Create(options, &error);
    EXPECT_TRUE(window) << error;
    return window;
}

// The next message of the given number, skipping others (e.g. moves before a press).
std::optional<TestMessage> NextOf(TestWindow& window, uint32_t message)
{
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (std::chrono::steady_clock::now() < deadline) {
        auto m = window.WaitForMessage(std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()));
        if (m && m->message == message)
            return m;
    }
    return std::nullopt;
}

// A connection of the test's own, for what the test looks at or does beside the hook.
class XClient {
public:
    XClient() : conn_(xcb_connect(nullptr, nullptr))
    {
        EXPECT_EQ(xcb_connection_has_error(conn_), 0);
        root_ = xcb_setup_roots_iterator(xcb_get_setup(conn_)).data->root;
    }
    ~XClient() { xcb_disconnect(conn_); }
    xcb_connection_t* Get() const { return conn_; }
    xcb_window_t Root() const { return root_; }

    // Override-redirect input-only windows on the root: the draw hook's kind.
    int InputOnlyOverlays()
    {
        Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(conn_, xcb_query_tree(conn_, root_), nullptr));
        int n = 0;
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
            Reply<xcb_get_window_attributes_reply_t> a(xcb_get_window_attributes_reply(
                conn_, xcb_get_window_attributes(conn_, children[i]), nullptr));
            n += a && a->_class == XCB_WINDOW_CLASS_INPUT_ONLY && a->override_redirect;
        }
        return n;
    }
    std::optional<uint8_t> MapState(xcb_window_t window)
    {
        Reply<xcb_get_window_attributes_reply_t> a(
            xcb_get_window_attributes_reply(conn_, xcb_get_window_attributes(conn_, window), nullptr));
        return a ? std::optional<uint8_t>(a->map_state) : std::nullopt;
    }
    bool PointerOverBecomes(xcb_window_t window)
    {
        const auto deadline = std::chrono::steady_clock::now() + kWait;
        while (std::chrono::steady_clock::now() < deadline) {
            Reply<xcb_query_pointer_reply_t> p(
                xcb_query_pointer_reply(conn_, xcb_query_pointer(conn_, root_), nullptr));
            if (p && p->child == window)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
    // Takes the window's button presses (a window's presses go to one client only).
    void WatchPresses(xcb_window_t window)
    {
        const uint32_t mask = XCB_EVENT_MASK_BUTTON_PRESS;
        ASSERT_EQ(xcb_request_check(conn_, xcb_change_window_attributes_checked(conn_, window,
                                                                                XCB_CW_EVENT_MASK, &mask)),
                  nullptr);
    }
    // Root position of the next button press on a watched window.
    std::optional<std::pair<int, int>> NextPress()
    {
        const auto deadline = std::chrono::steady_clock::now() + kWait;
        while (std::chrono::steady_clock::now() < deadline) {
            Reply<xcb_generic_event_t> e(xcb_poll_for_event(conn_));
            if (!e) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            if ((e->response_type & 0x7f) == XCB_BUTTON_PRESS) {
                auto* p = reinterpret_cast<xcb_button_press_event_t*>(e.get());
                return std::make_pair(int{p->root_x}, int{p->root_y});
            }
        }
        return std::nullopt;
    }

private:
    xcb_connection_t* conn_;
    xcb_window_t root_ = 0;
};

int DrawOn(TestWindow& tool, uint8_t drawing = 1)
{
    return SetDrawHook(1, tool.Id(), 0, HM_MOVE, HM_PRESS, HM_EXTRA, HM_MENU, HM_RELEASE_ACK, HM_RELEASE,
                       drawing);
}

void DrawOff(TestWindow& tool) { SetDrawHook(0, tool.Id(), 0, 0, 0, 0, 0, 0, 0, 0); }

// A click at (x, y) that the hook takes: its press, then the release at the same place.
xcb_window_t ExpectHookClick(TestWindow& tool, int x, int y)
{
    Xdo("mousemove " + std::to_string(x) + " " + std::to_string(y) + " click 1");
    auto press = NextOf(tool, HM_PRESS);
    EXPECT_TRUE(press);
    if (!press)
        return 0;
    EXPECT_EQ(press->lParam, Packed(x, y));
    auto release = tool.WaitForMessage(kWait);
    EXPECT_TRUE(release && release->message == HM_RELEASE && release->wParam == x && release->lParam == y);
    return static_cast<xcb_window_t>(press->wParam);
}

// A click into the tool window's client area reaches the tool window, not the hook:
// the next hook message after it comes from a second click outside.
void ExpectToolClick(XClient& x, TestWindow& tool)
{
    int cx = 0, cy = 0;
    ASSERT_TRUE(tool.ClientOrigin(&cx, &cy));
    cx += tool.Width() / 2;
    cy += tool.Height() / 2;
    Xdo("mousemove " + std::to_string(cx) + " " + std::to_string(cy));
    // The hook follows a moved frame on its own thread: wait until the pointer's
    // window there is the tool's frame (the server picks it by input shapes).
    ASSERT_TRUE(x.PointerOverBecomes(tool.Frame()));
    Xdo("click 1");
    auto pressed = x.NextPress();
    ASSERT_TRUE(pressed);
    EXPECT_EQ(*pressed, std::make_pair(cx, cy));
    Xdo("mousemove 150 150 click 1");
    auto next = tool.WaitForMessage(kWait);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->message, uint32_t{HM_PRESS});
    EXPECT_EQ(next->lParam, Packed(150, 150));
    EXPECT_TRUE(NextOf(tool, HM_RELEASE));
}

// A stroke: the press, every move while the button is down, the release.
void ExpectStroke(TestWindow& tool)
{
    Xdo("mousemove 200 210 mousedown 1 mousemove 230 250 mousemove 260 300 mouseup 1");
    auto press = NextOf(tool, HM_PRESS);
    ASSERT_TRUE(press);
    EXPECT_EQ(press->lParam, Packed(200, 210));
    for (auto [mx, my] : {std::pair{230, 250}, std::pair{260, 300}}) {
        auto move = tool.WaitForMessage(kWait);
        ASSERT_TRUE(move);
        EXPECT_EQ(move->message, uint32_t{HM_MOVE});
        EXPECT_EQ(move->wParam, mx);
        EXPECT_EQ(move->lParam, my);
    }
    auto release = tool.WaitForMessage(kWait);
    ASSERT_TRUE(release);
    EXPECT_EQ(release->message, uint32_t{HM_RELEASE});
    EXPECT_EQ(release->wParam, 260);
    EXPECT_EQ(release->lParam, 300);
    // Answered as the program answers it.
    XClient x;
    xcb_client_message_event_t ack{};
    ack.response_type = XCB_CLIENT_MESSAGE;
    ack.format = 32;
    ack.window = static_cast<xcb_window_t>(press->wParam);
    Reply<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(x.Get(), xcb_intern_atom(x.Get(), 0, 14, "TAVREC_MESSAGE"), nullptr));
    ack.type = atom->atom;
    ack.data.data32[0] = HM_RELEASE_ACK;
    EXPECT_EQ(xcb_request_check(x.Get(), xcb_send_event_checked(x.Get(), 0, ack.window, 0,
                                                                reinterpret_cast<const char*>(&ack))),
              nullptr);
}

}  // namespace

TEST(PickHook, ReportsTheFrameUnderThePointerAndThePresses)
{
    auto a = MakeWindow(100, 100);
    auto b = MakeWindow(600, 100);
    ASSERT_TRUE(a && b);
    int ax = 0, ay = 0, bx = 0, by = 0;
    ASSERT_TRUE(a->ClientOrigin(&ax, &ay) && b->ClientOrigin(&bx, &by));
    Xdo("mousemove 1500 500");

    for (int button : {1, 3}) {
        ASSERT_EQ(SetMouseFilterHook(1, a->Id(), HM_MOVE, HM_PRESS, HM_MENU), 1);
        const std::pair<int, int> points[] = {{ax + 10, ay + 20}, {bx + 30, by + 40}, {1500, 400}};
        const xcb_window_t under[] = {a->Frame(), b->Frame(), 0};
        for (int i = 0; i < 3; ++i) {
            Xdo("mousemove " + std::to_string(points[i].first) + " " + std::to_string(points[i].second));
            auto move = NextOf(*a, HM_MOVE);
            ASSERT_TRUE(move);
            EXPECT_EQ(move->lParam, Packed(points[i].first, points[i].second));
            EXPECT_EQ(static_cast<xcb_window_t>(move->wParam), under[i]) << "point " << i;
        }
        // Over window b: a left press confirms it, a right press cancels.
        Xdo("mousemove " + std::to_string(bx + 5) + " " + std::to_string(by + 5) + " click " +
            std::to_string(button));
        auto press = NextOf(*a, button == 1 ? HM_PRESS : HM_MENU);
        ASSERT_TRUE(press);
        EXPECT_EQ(static_cast<xcb_window_t>(press->wParam), b->Frame());
        EXPECT_EQ(SetMouseFilterHook(0, 0, 0, 0, 0), 1);
    }
}

TEST(PickHook, FailsWhenAnotherClientHoldsThePointer)
{
    auto receiver = MakeWindow(100, 100);
    ASSERT_TRUE(receiver);
    const int threads = ThreadCount();
    XClient other;
    Reply<xcb_grab_pointer_reply_t> grab(xcb_grab_pointer_reply(
        other.Get(),
        xcb_grab_pointer(other.Get(), 0, other.Root(), XCB_EVENT_MASK_BUTTON_PRESS, XCB_GRAB_MODE_ASYNC,
                         XCB_GRAB_MODE_ASYNC, XCB_WINDOW_NONE, XCB_CURSOR_NONE, XCB_CURRENT_TIME),
        nullptr));
    ASSERT_TRUE(grab && grab->status == XCB_GRAB_STATUS_SUCCESS);

    EXPECT_EQ(SetMouseFilterHook(1, receiver->Id(), HM_MOVE, HM_PRESS, HM_MENU), 0);
    EXPECT_EQ(ThreadCount(), threads);

    xcb_ungrab_pointer(other.Get(), XCB_CURRENT_TIME);
    xcb_flush(other.Get());
    EXPECT_EQ(SetMouseFilterHook(1, receiver->Id(), HM_MOVE, HM_PRESS, HM_MENU), 1);
    EXPECT_EQ(ThreadCount(), threads + 1);
    EXPECT_EQ(SetMouseFilterHook(0, 0, 0, 0, 0), 1);
    EXPECT_EQ(ThreadCount(), threads);
    EXPECT_EQ(SetMouseFilterHook(0, 0, 0, 0, 0), 1);  // off while off
}

TEST(DrawHook, ReportsStrokesAndMenuAndLeavesTheToolWindowClickable)
{
    auto tool = MakeWindow(1000, 400, 300, 200);
    ASSERT_TRUE(tool);
    XClient x;
    x.WatchPresses(tool->Id());
    const int threads = ThreadCount();
    const int overlays = x.InputOnlyOverlays();

    EXPECT_EQ(SetDrawMode(1), 1);
    EXPECT_EQ(SetDrawMode(7), 0);
    ASSERT_EQ(DrawOn(*tool), 1);
    EXPECT_EQ(ThreadCount(), threads + 1);
    EXPECT_EQ(x.InputOnlyOverlays(), overlays + 1);
    EXPECT_EQ(SetDrawMode(0), 1);

    ExpectStroke(*tool);
    ExpectStroke(*tool);  // a second stroke after the acknowledge

    Xdo("mousemove 300 350 click 3");
    auto menu = NextOf(*tool, HM_MENU);
    ASSERT_TRUE(menu);
    EXPECT_EQ(menu->wParam, 300);
    EXPECT_EQ(menu->lParam, 350);

    ExpectToolClick(x, *tool);
    // The left-out area follows the frame; the old place takes the pen again.
    int oldX = 0, oldY = 0;
    ASSERT_TRUE(tool->ClientOrigin(&oldX, &oldY));
    ASSERT_TRUE(tool->MoveTo(500, 500)) << tool->LastError();
    ExpectToolClick(x, *tool);
    const xcb_window_t hookWindow = ExpectHookClick(*tool, oldX + 150, oldY + 100);

    // A window mapped later on top of all (no window manager stacks it) does not
    // cover the hook.
    auto later = MakeWindow(150, 600, 320, 240, true);
    ASSERT_TRUE(later);
    Xdo("mousemove 200 650");
    ASSERT_TRUE(x.PointerOverBecomes(hookWindow));
    ExpectHookClick(*tool, 200, 650);
    later.reset();

    // Not drawing: unmapped but kept; drawing again maps it.
    ASSERT_EQ(DrawOn(*tool, 0), 1);
    EXPECT_EQ(x.MapState(hookWindow), std::optional<uint8_t>(XCB_MAP_STATE_UNMAPPED));
    ASSERT_EQ(DrawOn(*tool, 1), 1);
    EXPECT_EQ(x.MapState(hookWindow), std::optional<uint8_t>(XCB_MAP_STATE_VIEWABLE));
    EXPECT_EQ(ExpectHookClick(*tool, 400, 300), hookWindow);

    DrawOff(*tool);
    EXPECT_EQ(ThreadCount(), threads);
    EXPECT_EQ(x.InputOnlyOverlays(), overlays);
    EXPECT_FALSE(x.MapState(hookWindow));
    DrawOff(*tool);  // off while off
}

// The pick's grab is gone once the pick hook is off: the first stroke of a draw hook
// switched on right after it is the hook's, whole, with no pause between.
TEST(DrawHook, TakesTheFirstStrokeRightAfterAPick)
{
    auto tool = MakeWindow(1000, 400, 300, 200);
    auto picked = MakeWindow(100, 100);
    ASSERT_TRUE(tool && picked);
    int px = 0, py = 0;
    ASSERT_TRUE(picked->ClientOrigin(&px, &py));
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(SetMouseFilterHook(1, tool->Id(), HM_MOVE, HM_PRESS, HM_MENU), 1);
        Xdo("mousemove " + std::to_string(px + 20) + " " + std::to_string(py + 20) + " click 1");
        auto press = NextOf(*tool, HM_PRESS);
        ASSERT_TRUE(press);
        EXPECT_EQ(static_cast<xcb_window_t>(press->wParam), picked->Frame());
        EXPECT_EQ(SetMouseFilterHook(0, 0, 0, 0, 0), 1);
        ASSERT_EQ(DrawOn(*tool), 1);
        ExpectStroke(*tool);
        DrawOff(*tool);
    }
}

TEST(DrawHook, WorksUnderACompositingManager)
{
    char xcompmgr[] = "xcompmgr";
    char* argv[] = {xcompmgr, nullptr};
    pid_t pid = 0;
    if (std::system("command -v xcompmgr >/dev/null") != 0 ||
        posix_spawnp(&pid, "xcompmgr", nullptr, nullptr, argv, environ) != 0)
        GTEST_SKIP() << "xcompmgr is not installed";
    XClient x;
    // Running once it owns the compositing manager selection of screen 0.
    Reply<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(x.Get(), xcb_intern_atom(x.Get(), 0, 13, "_NET_WM_CM_S0"), nullptr));
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    for (;;) {
        Reply<xcb_get_selection_owner_reply_t> owner(
            xcb_get_selection_owner_reply(x.Get(), xcb_get_selection_owner(x.Get(), atom->atom), nullptr));
        if (owner && owner->owner != XCB_WINDOW_NONE)
            break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
            FAIL() << "xcompmgr did not start";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    auto tool = MakeWindow(1000, 400, 300, 200);
    if (tool) {
        x.WatchPresses(tool->Id());
        EXPECT_EQ(DrawOn(*tool), 1);
        ExpectStroke(*tool);
        ExpectToolClick(x, *tool);
        DrawOff(*tool);
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}
