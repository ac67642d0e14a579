#include "platform/x11/ScreenClip.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>

#include "platform/x11/XDisplayError.h"

namespace platform {

ScreenClip::ScreenClip(XDisplay& display) : display_(display), root_(display.Root()) {}

bool ScreenClip::Start(std::string* error)
{
    xcb_connection_t* conn = display_.Connection();
    const uint32_t structure = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    if (!XcbCheck(conn, xcb_change_window_attributes_checked(conn, root_, XCB_CW_EVENT_MASK, &structure),
                  "ChangeWindowAttributes (root)", error))
        return false;
    return Refresh(error);
}

bool ScreenClip::Refresh(std::string* error)
{
    RectL rect{};
    if (!display_.GetWindowRect(root_, &rect)) {
        *error = display_.LastError();
        return false;
    }
    width_ = rect.right;
    height_ = rect.bottom;
    return true;
}

// No round trip: the events are already queued. Nothing else is selected on this
// connection, so nothing else is lost.
void ScreenClip::Follow()
{
    while (xcb_generic_event_t* event = xcb_poll_for_event(display_.Connection())) {
        // Only the server's own events: a size another client sent is not believed.
        if (event->response_type == XCB_CONFIGURE_NOTIFY) {
            const auto* configure = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
            if (configure->window == root_) {
                width_ = configure->width;
                height_ = configure->height;
            }
        }
        std::free(event);
    }
}

bool ScreenClip::Clip(int x, int y, int w, int h, Part* part) const
{
    const int64_t left = std::max<int64_t>(x, 0);
    const int64_t top = std::max<int64_t>(y, 0);
    const int64_t right = std::min<int64_t>(int64_t{x} + w, width_);
    const int64_t bottom = std::min<int64_t>(int64_t{y} + h, height_);
    if (left >= right || top >= bottom)
        return false;
    part->left = static_cast<int>(left);
    part->top = static_cast<int>(top);
    part->width = static_cast<int>(right - left);
    part->height = static_cast<int>(bottom - top);
    return true;
}

}  // namespace platform
