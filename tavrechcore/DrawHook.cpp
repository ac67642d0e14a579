#include "tavrechcore/DrawHook.h"

#include "tavrechcore/EventThread.h"
#include "tavrechcore/InputWindow.h"
#include "tavrechcore/XConnection.h"

namespace hookcore {

std::unique_ptr<DrawHook> DrawHook::Start(const DrawTarget& target, DrawTool tool)
{
    auto x = XConnection::Open();
    if (!x)
        return nullptr;
    std::unique_ptr<DrawHook> hook(new DrawHook(std::move(x)));
    XConnection& xc = *hook->x_;
    // Frames that move, appear or restack, and size changes of the screen itself.
    const uint32_t rootEvents = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    if (!xc.Check(xcb_change_window_attributes_checked(xc.Get(), xc.Root(), XCB_CW_EVENT_MASK, &rootEvents),
                  "select the root's structure events"))
        return nullptr;
    hook->window_ = InputWindow::Create(xc, xc.ScreenWidth(), xc.ScreenHeight(),
                                        tool == DrawTool::Eraser ? hook->circle_.Id() : hook->pencil_.Id());
    if (!hook->window_)
        return nullptr;
    {
        std::lock_guard lock(hook->mutex_);
        hook->Apply(target);
        if (!xc.Sync())
            return nullptr;
    }
    hook->thread_ = std::make_unique<EventThread>(xc, hook->mutex_,
                                                  [h = hook.get()](const xcb_generic_event_t& e) { h->OnEvent(e); });
    if (!hook->thread_->Running())
        return nullptr;
    return hook;
}

DrawHook::DrawHook(std::unique_ptr<XConnection> x)
    : x_(std::move(x)),
      pencil_(*x_, FontCursor::kPencil),
      circle_(*x_, FontCursor::kCircle),
      poster_(*x_),
      tool_(*x_)
{
}

DrawHook::~DrawHook()
{
    thread_.reset();
    window_.reset();
}

void DrawHook::Retarget(const DrawTarget& target)
{
    std::lock_guard lock(mutex_);
    Apply(target);
    Finish();
}

void DrawHook::SetTool(DrawTool tool)
{
    std::lock_guard lock(mutex_);
    window_->SetCursor(tool == DrawTool::Eraser ? circle_.Id() : pencil_.Id());
    Finish();
}

void DrawHook::Finish()
{
    x_->Sync();
    // The round trip may have queued events that the thread has not seen.
    thread_->Wake();
}

void DrawHook::Apply(const DrawTarget& target)
{
    target_ = target;
    tool_.Follow(target.window);
    Reshape();
    if (target.drawing) {
        window_->Map();
        window_->Raise();
    } else {
        window_->Unmap();
        stroke_ = false;  // unmapping ends the stroke's grab; no release will come
    }
}

void DrawHook::Reshape()
{
    window_->SetInputArea(tool_.Area());
}

void DrawHook::OnEvent(const xcb_generic_event_t& event)
{
    switch (event.response_type & 0x7f) {
    case XCB_BUTTON_PRESS: {
        const auto& e = reinterpret_cast<const xcb_button_press_event_t&>(event);
        if (e.detail == XCB_BUTTON_INDEX_1) {
            stroke_ = true;
            poster_.Post(target_.window, target_.pressMessage, static_cast<int32_t>(window_->Id()),
                         PackPoint(e.root_x, e.root_y));
        } else if (e.detail == XCB_BUTTON_INDEX_3) {
            poster_.Post(target_.window, target_.menuMessage, e.root_x, e.root_y);
        }
        break;
    }
    case XCB_MOTION_NOTIFY: {
        const auto& e = reinterpret_cast<const xcb_motion_notify_event_t&>(event);
        if (stroke_)
            poster_.Post(target_.window, target_.moveMessage, e.root_x, e.root_y);
        break;
    }
    case XCB_BUTTON_RELEASE: {
        const auto& e = reinterpret_cast<const xcb_button_release_event_t&>(event);
        if (e.detail == XCB_BUTTON_INDEX_1 && stroke_) {
            stroke_ = false;
            poster_.Post(target_.window, target_.releaseMessage, e.root_x, e.root_y);
        }
        break;
    }
    case XCB_CLIENT_MESSAGE:
        // The acknowledge of a release: nothing waits for it (see the header).
        break;
    default:
        OnRootChange(event);
        break;
    }
}

void DrawHook::OnRootChange(const xcb_generic_event_t& event)
{
    const xcb_window_t self = window_->Id();
    switch (event.response_type & 0x7f) {
    case XCB_CONFIGURE_NOTIFY: {
        const auto& e = reinterpret_cast<const xcb_configure_notify_event_t&>(event);
        if (e.window == x_->Root()) {
            // The screen changed size (RandR): cover it again.
            if (e.width != window_->Width() || e.height != window_->Height()) {
                window_->Resize(e.width, e.height);
                Reshape();
            }
        } else if (e.window != self) {
            if (tool_.Configured(e))
                Reshape();
            // A window restacked right above the hook's: back on top.
            if (e.above_sibling == self && window_->Mapped())
                window_->Raise();
        }
        break;
    }
    case XCB_MAP_NOTIFY: {
        const auto& e = reinterpret_cast<const xcb_map_notify_event_t&>(event);
        if (e.window == self)
            break;
        if (e.window == tool_.Frame()) {
            tool_.Locate();
            Reshape();
        }
        if (window_->Mapped())
            window_->Raise();
        break;
    }
    case XCB_UNMAP_NOTIFY: {
        const auto& e = reinterpret_cast<const xcb_unmap_notify_event_t&>(event);
        if (e.window == tool_.Frame()) {
            tool_.Locate();
            Reshape();
        }
        break;
    }
    case XCB_DESTROY_NOTIFY: {
        const auto& e = reinterpret_cast<const xcb_destroy_notify_event_t&>(event);
        if (e.window == tool_.Client()) {
            tool_.Follow(XCB_WINDOW_NONE);  // gone for good: nothing to leave out
            Reshape();
        } else if (e.window == tool_.Frame()) {
            tool_.Locate();
            Reshape();
        }
        break;
    }
    case XCB_REPARENT_NOTIFY: {
        const auto& e = reinterpret_cast<const xcb_reparent_notify_event_t&>(event);
        // The tool window was taken into a frame or given back to the root.
        if (e.window == tool_.Client() || e.window == tool_.Frame()) {
            tool_.Locate();
            Reshape();
        }
        break;
    }
    default:
        break;
    }
}

}  // namespace hookcore
