// The hook that takes the pen: an input-only window over the whole screen, kept on
// top, whose input leaves out the program's tool window. A left press starts a
// stroke, motions while the button is down continue it and the release ends it; a
// right press asks for the draw menu. Each is posted to the program's window.
//
// The program answers each release with the acknowledge message on the hook's
// window. The hook takes it and goes on: the X server ends the stroke's implicit
// grab at the release, so nothing waits for the answer, and a press that follows at
// once starts the next stroke without losing input.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <memory>
#include <mutex>

#include "tavrechcore/FontCursor.h"
#include "tavrechcore/MessagePoster.h"
#include "tavrechcore/ToolFrame.h"

namespace hookcore {

class EventThread;
class InputWindow;
class XConnection;

struct DrawTarget {
    xcb_window_t window = XCB_WINDOW_NONE;  // receives the messages; its frame is left out
    uint32_t moveMessage = 0;
    uint32_t pressMessage = 0;
    uint32_t menuMessage = 0;
    uint32_t ackMessage = 0;
    uint32_t releaseMessage = 0;
    bool drawing = true;  // false: the window is unmapped, the hook stays set up
};

enum class DrawTool { Pen = 0, Eraser = 1 };

class DrawHook {
public:
    // Null (reported) when there is no X display or the window cannot be made.
    static std::unique_ptr<DrawHook> Start(const DrawTarget& target, DrawTool tool);
    ~DrawHook();  // stops the thread, then destroys the window
    DrawHook(const DrawHook&) = delete;
    DrawHook& operator=(const DrawHook&) = delete;

    // Both take effect before they return.
    void Retarget(const DrawTarget& target);
    void SetTool(DrawTool tool);

private:
    explicit DrawHook(std::unique_ptr<XConnection> x);
    // Callers hold mutex_.
    void Apply(const DrawTarget& target);
    void Reshape();
    void OnEvent(const xcb_generic_event_t& event);
    void OnRootChange(const xcb_generic_event_t& event);
    void Finish();  // after a change made from the program's thread

    std::unique_ptr<XConnection> x_;
    FontCursor pencil_;
    FontCursor circle_;
    MessagePoster poster_;
    ToolFrame tool_;
    std::unique_ptr<InputWindow> window_;
    std::mutex mutex_;  // guards everything here and the connection's use
    DrawTarget target_;
    bool stroke_ = false;  // the left button went down on the hook's window
    std::unique_ptr<EventThread> thread_;  // last: stopped first
};

}  // namespace hookcore
