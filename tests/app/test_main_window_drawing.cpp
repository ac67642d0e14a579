// links: tavrec_app tavrec_support_TempRegistry tavrec_support_TestWindow tavrec_support_MediaProbe tavrec_support_QtApp
// The main window built in-process on the session's display, with the real hook
// component and the real capture library, the mouse driven with xdotool: how a pick
// ends (cancelled, refused, a press on a window gone meanwhile, the whole screen),
// draw mode during a recording (clear, eraser, redraw, the menu at the pointer) and
// what reaches the file, and the check marks of the three tool menus.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QApplication>
#include <QMenu>
#include <QTimer>
#include <QToolButton>

#include <xcb/xcb.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>

#include "annotate/FreehandDrawing.h"
#include "annotate/ScreenDrawing.h"
#include "app/DrawingScreen.h"
#include "app/Tavrecmain.h"
#include "tests/support/MediaProbe.h"
#include "tests/support/QtApp.h"
#include "tests/support/TempRegistry.h"
#include "tests/support/TestWindow.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using testsupport::TestWindow;

constexpr int kW = 320, kH = 240, kLeft = 300, kTop = 300;

QApplication& App() { return testkit::QtApp("test_main_window_drawing"); }

void Sh(const std::string& command) { testkit::RunCapture({"sh", "-c", command}); }

// Runs the mouse actions on a thread of their own while the window's events are
// processed here, then lets the posted messages land.
void WhileProcessing(const std::function<void()>& actions)
{
    bool done = false;
    std::thread t([&] {
        actions();
        done = true;
    });
    while (!__atomic_load_n(&done, __ATOMIC_ACQUIRE))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    t.join();
    for (auto end = std::chrono::steady_clock::now() + 400ms; std::chrono::steady_clock::now() < end;)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

void Process(std::chrono::milliseconds time)
{
    WhileProcessing([time] { std::this_thread::sleep_for(time); });
}

// Moves to a point and presses a button there while a pick runs on the test's
// thread. When the hook takes the pointer late, the first press goes to the window
// below and the pick would wait for ever, so the press is repeated (a few times,
// 2 s apart) until the pick has ended.
class PickPresser {
public:
    PickPresser(int x, int y, int button, std::chrono::milliseconds moveDelay,
                std::chrono::milliseconds pressDelay = 300ms)
        : thread_([this, x, y, button, moveDelay, pressDelay] {
              std::this_thread::sleep_for(moveDelay);
              Sh("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y));
              std::this_thread::sleep_for(pressDelay);
              for (int attempt = 0; attempt < 10 && !done_.load(); ++attempt) {
                  Sh("xdotool click " + std::to_string(button));
                  for (int i = 0; i < 20 && !done_.load(); ++i)
                      std::this_thread::sleep_for(100ms);
              }
          })
    {
    }
    PickPresser(const PickPresser&) = delete;
    PickPresser& operator=(const PickPresser&) = delete;
    ~PickPresser() { Done(); }
    // Called once the pick has returned.
    void Done()
    {
        done_ = true;
        if (thread_.joinable())
            thread_.join();
    }

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// Root pixels on a connection of the test's own, 0xRRGGBB.
class RootReader {
public:
    RootReader() : c_(xcb_connect(nullptr, nullptr)) {}
    ~RootReader() { xcb_disconnect(c_); }
    xcb_connection_t* Get() const { return c_; }
    xcb_window_t Root() const { return xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root; }
    uint32_t At(int x, int y)
    {
        auto* reply = xcb_get_image_reply(
            c_, xcb_get_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, Root(), int16_t(x), int16_t(y), 1, 1, ~0u), nullptr);
        uint32_t v = 0xDEADBEEF;
        if (reply) {
            std::memcpy(&v, xcb_get_image_data(reply), 4);
            v &= 0xFFFFFF;
        }
        std::free(reply);
        return v;
    }

private:
    xcb_connection_t* c_;
};

class MainWindowDrawing : public ::testing::Test {
protected:
    // Video only (plus fast drawing), a window picked at each start, 10 fps, a green
    // pen 5 pixels wide, an eraser 40 wide, the tool window out of the way.
    void Build(bool fast, const char* fps = "0a")
    {
        file_ = registry_.Dir() + "/draw.avi";
        registry_.SetText(std::string("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\KELDAN\\TAVREC]\r\n") +
                          "\"PenColor\"=hex:00,ff,00,00\r\n\"PenSize\"=dword:00000005\r\n" +
                          "\"EraserSize\"=dword:00000028\r\n\"APLeft\"=dword:000005dc\r\n" +
                          "\"APTop\"=dword:00000014\r\n\"BoolSection\"=hex:" + (fast ? "22" : "02") +
                          ",00,00,00\r\n\"CaptureSize\"=hex:02,00,00,00\r\n\"FPS\"=hex:" + fps + ",00,00,00\r\n" +
                          "\"SavedFile\"=\"" + file_ + "\"\r\n");
        App();
        window_ = std::make_unique<TfrmMain>();
        window_->show();
        Process(300ms);
        testsupport::TestWindowOptions options;
        options.overrideRedirect = true;
        options.x = kLeft;
        options.y = kTop;
        options.width = kW;
        options.height = kH;
        std::string error;
        target_ = TestWindow::Create(options, &error);
        ASSERT_TRUE(target_) << error;
    }
    void TearDown() override
    {
        window_.reset();
        target_.reset();
    }
    QToolButton* Button(const char* name) { return window_->findChild<QToolButton*>(QLatin1String(name)); }
    QMenu* Menu(const char* name) { return window_->findChild<QMenu*>(QLatin1String(name)); }
    static MenuItem* Item(QMenu* menu, const char* caption)
    {
        for (QAction* action : menu->actions())
            if (auto* item = qobject_cast<MenuItem*>(action); item && item->Caption() == QLatin1String(caption))
                return item;
        return nullptr;
    }
    // Starts a recording of the test window, picked with the mouse.
    void StartRecording()
    {
        PickPresser mouse(kLeft + 100, kTop + 100, 1, 700ms);
        window_->ToolButtonClick(Button("btnStartRecord"));
        mouse.Done();
    }
    // A left-button stroke through root points (x, y) pairs, pausing between them.
    static void Stroke(std::initializer_list<std::pair<int, int>> points, const char* pause = "")
    {
        std::string command;
        bool first = true;
        for (auto [x, y] : points) {
            command += std::string(first ? "" : pause) + "xdotool mousemove " + std::to_string(x) + " " +
                       std::to_string(y) + "; ";
            if (first)
                command += "xdotool mousedown 1; ";
            first = false;
        }
        Sh(command + "xdotool mouseup 1");
    }
    // A stroke across the window at root row y made while the program's thread is
    // busy: every hook message waits in the queue until the pointer is up again. The
    // line must still run along the path the pointer took, from its first point.
    void StrokeWhileBusy(int y)
    {
        Stroke({{kLeft + 20, y}, {kLeft + 150, y}, {kLeft + 290, y}});
        Process(400ms);
        for (int x : {25, 100, 285})
            EXPECT_EQ(window_->Drawing().MaskAt(x, y - kTop), annotate::DrawOverlay::kMaskStroke) << "x " << x;
    }
    uint32_t Picture(int x, int y) const { return target_->ExpectedFramePixel(x, y, 0) & 0xFFFFFF; }

    TempRegistry registry_;
    std::string file_;
    std::unique_ptr<TfrmMain> window_;
    std::unique_ptr<TestWindow> target_;
};

TEST_F(MainWindowDrawing, PickEndsIdleWhenCancelledRefusedOrPressedOnAWindowGone)
{
    Build(false);
    RootReader x;
    const uint32_t root = x.Root();

    // A right press cancels: no window, the state is idle again.
    PickPresser mouse(400, 400, 3, 700ms);
    EXPECT_EQ(window_->PickCaptureWindow(2), 0u);
    mouse.Done();
    EXPECT_EQ(window_->State(), rsIdle);

    // A press on a window that is gone by the time it is handled confirms nothing; on
    // one that is there, that window.
    auto gone = TestWindow::Create({}, nullptr);
    ASSERT_TRUE(gone);
    const uint32_t goneId = gone->Id();
    gone.reset();
    for (const auto& [pressed, expected] : {std::pair{goneId, 0u}, std::pair{uint32_t(target_->Id()), uint32_t(target_->Id())}}) {
        QTimer::singleShot(500ms, window_.get(),
                           [this, w = pressed] { window_->AppMessage(PostedMessage{msg::HM_PRESS, int32_t(w), 0}); });
        EXPECT_EQ(window_->PickCaptureWindow(2), expected);
        EXPECT_EQ(window_->State(), rsIdle);
    }

    // Another client holds the pointer: the hook cannot start, and the pick ends at
    // once, idle; so does the choice of a region, which cannot take the pointer
    // either. The whole screen needs no hook and still works.
    auto* grab = xcb_grab_pointer_reply(x.Get(),
                                        xcb_grab_pointer(x.Get(), 0, root, 0, XCB_GRAB_MODE_ASYNC,
                                                         XCB_GRAB_MODE_ASYNC, XCB_NONE, XCB_NONE, XCB_CURRENT_TIME),
                                        nullptr);
    ASSERT_TRUE(grab && grab->status == XCB_GRAB_STATUS_SUCCESS);
    std::free(grab);
    EXPECT_EQ(window_->PickCaptureWindow(2), 0u);
    EXPECT_EQ(window_->State(), rsIdle);
    EXPECT_EQ(window_->PickCaptureWindow(1), root);
    EXPECT_EQ(window_->PickCaptureWindow(3), 0u);
    xcb_ungrab_pointer(x.Get(), XCB_CURRENT_TIME);
    xcb_flush(x.Get());
}

// A window highlighted during the pick that goes away before the pick ends (a popup
// under the pointer) is forgotten with the pick: nothing of its frame is kept to be
// painted again later.
TEST_F(MainWindowDrawing, HighlightOfAWindowGoneDuringThePickIsForgotten)
{
    Build(false);
    annotate::ScreenDrawing* screen = DrawingScreen();
    ASSERT_NE(screen, nullptr);
    // Under the pointer, so that a motion the hook reports names the same window.
    testsupport::TestWindowOptions options;
    options.overrideRedirect = true;
    options.x = 60;
    options.y = 60;
    options.width = 120;
    options.height = 120;
    std::unique_ptr<TestWindow> popup = TestWindow::Create(options, nullptr);
    ASSERT_TRUE(popup);
    Sh("xdotool mousemove 120 120");
    const uint32_t id = popup->Id();
    bool shownDuringPick = false;
    QTimer::singleShot(500ms, window_.get(), [&] {
        window_->AppMessage(PostedMessage{msg::HM_MOVE, int32_t(id), 0});
        shownDuringPick = screen->Highlight().IsShown(id);
        popup.reset();
        QTimer::singleShot(300ms, window_.get(),
                           [this] { window_->AppMessage(PostedMessage{msg::HM_MENU, 120, 120}); });
    });
    EXPECT_EQ(window_->PickCaptureWindow(2), 0u);
    EXPECT_EQ(window_->State(), rsIdle);
    EXPECT_TRUE(shownDuringPick);
    EXPECT_FALSE(screen->Highlight().IsShown(id));
}

// Fast drawing: the clear reaches the file although the pen goes on at once, the
// eraser wipes its whole segment, shortcut 5 paints the drawing back after a repaint,
// and a right press leaves draw mode and opens the draw menu at the pointer.
TEST_F(MainWindowDrawing, DrawModeDuringARecordingFromClearToTheMenu)
{
    // 2 fps: the stroke after the clear outlasts the next frame and the late refresh.
    Build(true, "02");
    RootReader x;
    annotate::FreehandDrawing& drawing = window_->Drawing();
    EXPECT_EQ(&window_->DrawLock(), &drawing.DrawLock) << "one lock for the window and OverlayFrame";
    StartRecording();
    ASSERT_EQ(window_->State(), rsRecording);
    Process(600ms);

    Button("btnSwitchMode")->click();
    ASSERT_TRUE(window_->InDrawMode());
    const int y1 = kTop + 50, y2 = kTop + 150;
    StrokeWhileBusy(y1);
    EXPECT_EQ(x.At(kLeft + 100, y1), 0x00FF00u);
    EXPECT_EQ(drawing.MaskAt(100, 50), annotate::DrawOverlay::kMaskStroke);
    Process(800ms);

    // Clear, and a slow stroke at once: the fresh grab the clear asked for still comes.
    Button("btnClearAll")->click();
    WhileProcessing([&] {
        Stroke({{kLeft + 20, y2}, {kLeft + 80, y2}, {kLeft + 140, y2}, {kLeft + 200, y2}, {kLeft + 290, y2}},
               "sleep 0.3; ");
    });
    EXPECT_EQ(drawing.MaskAt(100, 50), annotate::DrawOverlay::kMaskClear);
    EXPECT_EQ(drawing.ColourAt(100, 50), 0u);
    EXPECT_EQ(drawing.MaskAt(100, 150), annotate::DrawOverlay::kMaskStroke);
    EXPECT_EQ(x.At(kLeft + 100, y1), Picture(100, 50)) << "the screen is repainted";
    Process(1000ms);

    // The eraser in one long jump across the second line: wiped where it crossed, in
    // the overlay and on the screen, not only at the ends.
    Button("btnChangeSize")->click();
    EXPECT_EQ(drawing.DrawTool.load(), annotate::dtEraser);
    WhileProcessing([&] { Stroke({{kLeft + 160, kTop + 20}, {kLeft + 160, kTop + 230}}); });
    EXPECT_EQ(drawing.MaskAt(160, 150), annotate::DrawOverlay::kMaskClear);
    EXPECT_EQ(drawing.MaskAt(100, 150), annotate::DrawOverlay::kMaskStroke);
    Process(400ms);
    EXPECT_EQ(x.At(kLeft + 160, y2), Picture(160, 150));

    // Shortcut 5 after a whole-screen repaint: the drawing is back on the screen, the
    // erased part stays erased.
    RepaintWholeScreen();
    Process(400ms);
    ASSERT_EQ(x.At(kLeft + 100, y2), Picture(100, 150));
    window_->DrawingHotkey(HotkeyRedraw);
    EXPECT_EQ(x.At(kLeft + 100, y2), 0x00FF00u);
    EXPECT_EQ(x.At(kLeft + 160, y2), Picture(160, 150));
    EXPECT_EQ(x.At(kLeft + 100, y2 + 10), Picture(100, 160));

    // A right press: out of draw mode, overlay emptied, the draw menu at the pointer.
    Button("btnChangeTools")->click();
    WhileProcessing([] { Sh("xdotool mousemove 500 420 click 3"); });
    EXPECT_FALSE(window_->InDrawMode());
    EXPECT_FALSE(Button("btnSwitchMode")->isChecked());
    EXPECT_EQ(drawing.MaskAt(100, 150), annotate::DrawOverlay::kMaskClear);
    QMenu* menu = Menu("pmeuDrawLine");
    ASSERT_TRUE(menu->isVisible());
    EXPECT_EQ(menu->geometry().topLeft(), QPoint(500, 420));
    menu->hide();

    window_->ToolButtonClick(Button("btnStopRecord"));
    ASSERT_EQ(window_->State(), rsIdle);

    // In the file: frames with the first line, and, before the eraser was chosen (the
    // second line still whole), a frame with the second line but no more the first.
    const auto frames = testkit::DecodeVideo(file_, "bgr0", kW, kH, 4);
    ASSERT_GE(frames.size(), 8u);
    const auto at = [](const std::vector<uint8_t>& f, int px, int py) {
        uint32_t v;
        std::memcpy(&v, &f[(size_t(py) * kW + px) * 4], 4);
        return v & 0xFFFFFF;
    };
    bool firstLineSeen = false, clearedSeen = false;
    for (const auto& f : frames) {
        firstLineSeen = firstLineSeen || at(f, 100, 50) == 0x00FF00;
        clearedSeen = clearedSeen || (at(f, 100, 150) == 0x00FF00 && at(f, 160, 150) == 0x00FF00 &&
                                      at(f, 100, 50) == Picture(100, 50));
    }
    EXPECT_TRUE(firstLineSeen);
    EXPECT_TRUE(clearedSeen) << "the cleared line is gone from the recording";
}

TEST_F(MainWindowDrawing, UnderACompositorHighlightAndStrokeAreSeenAndRecorded)
{
    if (std::system("command -v xcompmgr >/dev/null") != 0)
        GTEST_SKIP() << "xcompmgr is not installed";
    Build(false);
    char name[] = "xcompmgr";
    char* argv[] = {name, nullptr};
    pid_t compositor = 0;
    ASSERT_EQ(posix_spawnp(&compositor, "xcompmgr", nullptr, nullptr, argv, environ), 0);
    struct Stop {
        pid_t pid;
        ~Stop()
        {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    } stop{compositor};
    RootReader x;
    {
        auto* atom = xcb_intern_atom_reply(x.Get(), xcb_intern_atom(x.Get(), 0, 13, "_NET_WM_CM_S0"), nullptr);
        ASSERT_TRUE(atom);
        const xcb_atom_t selection = atom->atom;
        std::free(atom);
        bool owned = false;
        for (int i = 0; i < 200 && !owned; ++i) {
            auto* owner = xcb_get_selection_owner_reply(x.Get(), xcb_get_selection_owner(x.Get(), selection), nullptr);
            owned = owner && owner->owner != XCB_NONE;
            std::free(owner);
            if (!owned)
                std::this_thread::sleep_for(50ms);
        }
        ASSERT_TRUE(owned) << "xcompmgr took no compositing manager selection";
    }
    Process(500ms);

    // The pick: a shaped override-redirect window in cyan over the window's frame.
    xcb_window_t highlight = 0;
    uint32_t highlightPixel = 0;
    QTimer::singleShot(1500ms, window_.get(), [&] {
        if (annotate::ScreenDrawing* screen = DrawingScreen())
            highlight = screen->Highlight().HighlightWindowOf(target_->Id());
        highlightPixel = x.At(kLeft + 2, kTop + 100);
    });
    PickPresser mouse(kLeft + 100, kTop + 100, 1, 700ms, 1200ms);
    window_->ToolButtonClick(Button("btnStartRecord"));
    mouse.Done();
    ASSERT_EQ(window_->State(), rsRecording);
    ASSERT_NE(highlight, 0u);
    EXPECT_EQ(highlightPixel, 0x00FFFFu);

    // The stroke: on the canvas window, seen on the screen, and recorded.
    Button("btnSwitchMode")->click();
    ASSERT_TRUE(window_->InDrawMode());
    const int y = kTop + 80;
    StrokeWhileBusy(y);
    annotate::ScreenDrawing* screen = DrawingScreen();
    ASSERT_TRUE(screen);
    EXPECT_EQ(screen->Path(), annotate::DrawPath::CompositorCanvas);
    ASSERT_NE(screen->CanvasWindow(), 0u);
    auto* attributes =
        xcb_get_window_attributes_reply(x.Get(), xcb_get_window_attributes(x.Get(), screen->CanvasWindow()), nullptr);
    ASSERT_TRUE(attributes);
    EXPECT_TRUE(attributes->override_redirect);
    std::free(attributes);
    auto* geometry = xcb_get_geometry_reply(x.Get(), xcb_get_geometry(x.Get(), screen->CanvasWindow()), nullptr);
    ASSERT_TRUE(geometry);
    EXPECT_EQ(geometry->depth, 32);
    std::free(geometry);
    Process(600ms);
    EXPECT_EQ(x.At(kLeft + 100, y), 0x00FF00u) << "the compositor shows the canvas";
    EXPECT_EQ(x.At(kLeft + 100, y + 20), Picture(100, 100)) << "transparent beside the line";
    Process(800ms);
    window_->ToolButtonClick(Button("btnStopRecord"));
    ASSERT_EQ(window_->State(), rsIdle);
    EXPECT_EQ(screen->CanvasWindow(), 0u) << "the canvas goes with the recording";

    const auto frames = testkit::DecodeVideo(file_, "bgr0", kW, kH, 4);
    ASSERT_GE(frames.size(), 10u);
    uint32_t v;
    std::memcpy(&v, &frames.back()[(size_t(80) * kW + 100) * 4], 4);
    EXPECT_EQ(v & 0xFFFFFF, 0x00FF00u);
}

TEST_F(MainWindowDrawing, ToolMenusSetPenAndEraserWithCheckMarksOfTheirOwn)
{
    Build(false);
    QMenu* pen = Menu("pmeuFreePen");
    QMenu* eraser = Menu("pmeuFreeEraser");
    QMenu* draw = Menu("pmeuDrawLine");
    const auto sub = [](QMenu* m, const char* caption) -> QMenu* {
        for (QAction* action : m->actions())
            if (action->text() == QLatin1String(caption))
                return action->menu();
        return nullptr;
    };
    // Stored green and 5p, eraser 40 (no entry).
    EXPECT_TRUE(Item(sub(pen, "Pen Color"), "Green")->isChecked());
    EXPECT_TRUE(Item(sub(draw, "Pen Size"), "5p")->isChecked());
    for (const char* e : {"50p", "100p", "150p"})
        EXPECT_FALSE(Item(eraser, e)->isChecked()) << e;

    Item(sub(pen, "Pen Color"), "Red")->trigger();
    EXPECT_EQ(window_->WindowValues().PenColor, 0x0000FFu);
    EXPECT_TRUE(Item(sub(pen, "Pen Color"), "Red")->isChecked());
    EXPECT_FALSE(Item(sub(pen, "Pen Color"), "Green")->isChecked());
    EXPECT_TRUE(Item(sub(draw, "Pen Color"), "Green")->isChecked()) << "the other menu's mark stays";

    Item(sub(draw, "Pen Size"), "2p")->trigger();
    EXPECT_EQ(window_->WindowValues().PenSize, 2);
    EXPECT_TRUE(Item(sub(pen, "Pen Size"), "5p")->isChecked());

    Item(eraser, "150p")->trigger();
    EXPECT_EQ(window_->WindowValues().EraserSize, 150);
    EXPECT_TRUE(Item(eraser, "150p")->isChecked());

    const QStringList captions{"Pen Color", "Pen Size", "Clear Draw", "-", "Return Cursor Mode", "Close This Menu"};
    ASSERT_EQ(draw->actions().size(), captions.size());
    for (int i = 0; i < captions.size(); ++i)
        EXPECT_EQ(draw->actions()[i]->isSeparator() ? QStringLiteral("-") : draw->actions()[i]->text(), captions[i]);
    // Idle: these do nothing and enter no draw mode.
    Item(draw, "Return Cursor Mode")->trigger();
    Item(draw, "Clear Draw")->trigger();
    window_->DrawingHotkey(HotkeySwitchMode);
    EXPECT_FALSE(window_->InDrawMode());
}

}  // namespace
