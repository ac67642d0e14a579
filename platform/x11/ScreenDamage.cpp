#include "platform/x11/ScreenDamage.h"

#include <xcb/damage.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <cstdlib>

#include "platform/x11/XDisplay.h"
#include "platform/x11/XDisplayError.h"

namespace platform {

struct ScreenDamage::Impl {
    std::unique_ptr<XDisplay> display;
    xcb_connection_t* conn = nullptr;
    xcb_window_t root = 0;
    xcb_damage_damage_t damage = 0;
    xcb_xfixes_region_t region = 0;
    uint16_t screenWidth = 0, screenHeight = 0;
    std::string lastError;

    ~Impl()
    {
        // The server frees both with the connection anyway; freeing them first keeps
        // a connection that outlives us (none today) clean.
        if (conn && !xcb_connection_has_error(conn)) {
            if (damage)
                xcb_damage_destroy(conn, damage);
            if (region)
                xcb_xfixes_destroy_region(conn, region);
            xcb_flush(conn);
        }
    }

    bool SetUp(std::string* error);
    // Takes the root's size from the queued ConfigureNotify events; the damage
    // notifications that come with NonEmpty reports are only dropped: the region is
    // fetched on every Take anyway.
    bool DrainEvents();
};

bool ScreenDamage::Impl::SetUp(std::string* error)
{
    conn = display->Connection();
    root = display->Root();
    const xcb_query_extension_reply_t* damageExt = xcb_get_extension_data(conn, &xcb_damage_id);
    if (!damageExt || !damageExt->present) {
        *error = "the X server has no DAMAGE extension";
        return false;
    }
    const xcb_query_extension_reply_t* fixesExt = xcb_get_extension_data(conn, &xcb_xfixes_id);
    if (!fixesExt || !fixesExt->present) {
        *error = "the X server has no XFIXES extension";
        return false;
    }
    // Both extensions want to hear the client's version before anything else.
    auto fixes = XcbReply(conn, xcb_xfixes_query_version(conn, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION),
                          xcb_xfixes_query_version_reply, "XFixesQueryVersion", error);
    if (!fixes)
        return false;
    if (fixes->major_version < 2) {
        *error = "the X server's XFIXES " + std::to_string(fixes->major_version) + " has no regions";
        return false;
    }
    auto version = XcbReply(conn, xcb_damage_query_version(conn, XCB_DAMAGE_MAJOR_VERSION, XCB_DAMAGE_MINOR_VERSION),
                            xcb_damage_query_version_reply, "DamageQueryVersion", error);
    if (!version)
        return false;

    const uint32_t structure = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    if (!XcbCheck(conn, xcb_change_window_attributes_checked(conn, root, XCB_CW_EVENT_MASK, &structure),
                  "ChangeWindowAttributes (root)", error))
        return false;
    RectL rect{};
    if (!display->GetWindowRect(root, &rect)) {
        *error = display->LastError();
        return false;
    }
    screenWidth = static_cast<uint16_t>(rect.right);
    screenHeight = static_cast<uint16_t>(rect.bottom);

    region = xcb_generate_id(conn);
    if (!XcbCheck(conn, xcb_xfixes_create_region_checked(conn, region, 0, nullptr), "XFixesCreateRegion", error)) {
        region = 0;
        return false;
    }
    damage = xcb_generate_id(conn);
    // NonEmpty: one notification when damage appears after a Take, not one per drawing.
    if (!XcbCheck(conn, xcb_damage_create_checked(conn, damage, root, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY),
                  "DamageCreate (root)", error)) {
        damage = 0;
        return false;
    }
    return true;
}

bool ScreenDamage::Impl::DrainEvents()
{
    bool resized = false;
    while (xcb_generic_event_t* event = xcb_poll_for_event(conn)) {
        // Only the server's own events (the send-event bit clear) are believed.
        if (event->response_type == XCB_CONFIGURE_NOTIFY) {
            const auto* configure = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
            if (configure->window == root &&
                (configure->width != screenWidth || configure->height != screenHeight)) {
                screenWidth = configure->width;
                screenHeight = configure->height;
                resized = true;
            }
        }
        std::free(event);
    }
    return resized;
}

std::unique_ptr<ScreenDamage> ScreenDamage::Create(std::string* error)
{
    std::string ignored;
    std::string& err = error ? *error : ignored;
    auto impl = std::make_unique<Impl>();
    impl->display = XDisplay::Open(&err);
    if (!impl->display)
        return nullptr;
    if (!impl->SetUp(&err))
        return nullptr;
    return std::unique_ptr<ScreenDamage>(new ScreenDamage(std::move(impl)));
}

ScreenDamage::ScreenDamage(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ScreenDamage::~ScreenDamage() = default;

const std::string& ScreenDamage::LastError() const { return impl_->lastError; }

bool ScreenDamage::Take(std::vector<ScreenRect>* rects, ScreenRect* bounds, bool* resized)
{
    Impl& s = *impl_;
    rects->clear();
    *bounds = ScreenRect{};
    // The damage moves into the region and is empty again; the fetch that follows is
    // answered after the move, so every drawing the server did before it is in there.
    xcb_damage_subtract(s.conn, s.damage, XCB_NONE, s.region);
    auto reply = XcbReply(s.conn, xcb_xfixes_fetch_region(s.conn, s.region), xcb_xfixes_fetch_region_reply,
                          "XFixesFetchRegion", &s.lastError);
    if (!reply)
        return false;
    // Events read with the reply: a resize the server reported before it is seen now.
    *resized = s.DrainEvents();
    const int count = xcb_xfixes_fetch_region_rectangles_length(reply.get());
    const xcb_rectangle_t* rect = xcb_xfixes_fetch_region_rectangles(reply.get());
    for (int i = 0; i < count; ++i) {
        if (rect[i].width && rect[i].height)
            rects->push_back(ScreenRect{rect[i].x, rect[i].y, rect[i].width, rect[i].height});
    }
    if (!rects->empty())
        *bounds = ScreenRect{reply->extents.x, reply->extents.y, reply->extents.width, reply->extents.height};
    return true;
}

}  // namespace platform
