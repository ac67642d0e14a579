#include "tavrechcore/PickHook.h"

#include "tavrechcore/EventThread.h"
#include "tavrechcore/PointerGrab.h"
#include "tavrechcore/XConnection.h"

namespace hookcore {

namespace {

// A client that holds the pointer briefly (a menu closing, a drag ending) lets go
// within this time; one that holds it longer makes the pick fail instead of waiting.
constexpr std::chrono::milliseconds kGrabPatience{300};

constexpr uint16_t kPickEvents =
    XCB_EVENT_MASK_POINTER_MOTION | XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE;

}  // namespace

std::unique_ptr<PickHook> PickHook::Start(const PickTarget& target)
{
    auto x = XConnection::Open();
    if (!x)
        return nullptr;
    std::unique_ptr<PickHook> hook(new PickHook(std::move(x), target));
    hook->grab_ = PointerGrab::Acquire(*hook->x_, hook->crosshair_.Id(), kPickEvents, kGrabPatience);
    if (!hook->grab_)
        return nullptr;
    hook->thread_ = std::make_unique<EventThread>(*hook->x_, hook->mutex_,
                                                  [h = hook.get()](const xcb_generic_event_t& e) { h->OnEvent(e); });
    if (!hook->thread_->Running())
        return nullptr;
    return hook;
}

PickHook::PickHook(std::unique_ptr<XConnection> x, const PickTarget& target)
    : x_(std::move(x)), crosshair_(*x_, FontCursor::kCrosshair), poster_(*x_), target_(target)
{
}

PickHook::~PickHook()
{
    thread_.reset();
    grab_.reset();
}

void PickHook::Retarget(const PickTarget& target)
{
    std::lock_guard lock(mutex_);
    target_ = target;
}

void PickHook::OnEvent(const xcb_generic_event_t& event)
{
    switch (event.response_type & 0x7f) {
    case XCB_MOTION_NOTIFY: {
        const auto& e = reinterpret_cast<const xcb_motion_notify_event_t&>(event);
        poster_.Post(target_.window, target_.moveMessage, static_cast<int32_t>(e.child),
                     PackPoint(e.root_x, e.root_y));
        break;
    }
    case XCB_BUTTON_PRESS: {
        const auto& e = reinterpret_cast<const xcb_button_press_event_t&>(event);
        if (e.detail == XCB_BUTTON_INDEX_1)
            poster_.Post(target_.window, target_.pressMessage, static_cast<int32_t>(e.child),
                         PackPoint(e.root_x, e.root_y));
        else if (e.detail == XCB_BUTTON_INDEX_3)
            poster_.Post(target_.window, target_.menuMessage, static_cast<int32_t>(e.child),
                         PackPoint(e.root_x, e.root_y));
        break;
    }
    default:
        break;
    }
}

}  // namespace hookcore
