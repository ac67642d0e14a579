#include "app/HotkeyGrabber.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/KeyboardMap.h"
#include "platform/x11/XDisplayError.h"
#include "settings/VirtualKeys.h"

namespace {

constexpr uint8_t kXkbNewKeyboardNotify = 0;
constexpr uint8_t kXkbMapNotify = 1;
constexpr uint16_t kKeyModifierBits = 0x00FF;  // Shift, Lock, Control, Mod1-Mod5

std::string Hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

uint8_t XkbFirstEvent(xcb_connection_t* connection)
{
    static const char kName[] = "XKEYBOARD";
    xcb_query_extension_reply_t* reply = xcb_query_extension_reply(
        connection, xcb_query_extension(connection, std::strlen(kName), kName), nullptr);
    const uint8_t first = reply && reply->present ? reply->first_event : 0;
    std::free(reply);
    return first;
}

}  // namespace

HotkeyGrabber::HotkeyGrabber(xcb_connection_t* connection, xcb_window_t root)
    : connection_(connection), root_(root), xkbFirstEvent_(XkbFirstEvent(connection))
{
}

HotkeyGrabber::~HotkeyGrabber()
{
    if (!xcb_connection_has_error(connection_))
        ReleaseAll();
}

bool HotkeyGrabber::RegisterHotkeys(std::span<const HotkeyEntry, kHotkeyCount> hotkeys)
{
    for (int id = 0; id < kHotkeyCount; ++id)
        words_[id] = hotkeys[id].Shortcut;
    registered_ = true;
    GrabAll();
    return std::none_of(status_.begin(), status_.end(),
                        [](const HotkeyStatus& s) { return s.State == HotkeyState::Refused; });
}

void HotkeyGrabber::UnregisterHotkeys()
{
    registered_ = false;
    ReleaseAll();
}

std::vector<uint16_t> HotkeyGrabber::LockVariants() const
{
    std::vector<uint16_t> variants = {0, XCB_MOD_MASK_LOCK};
    if (numLockMask_ != 0 && numLockMask_ != XCB_MOD_MASK_LOCK) {
        variants.push_back(numLockMask_);
        variants.push_back(static_cast<uint16_t>(numLockMask_ | XCB_MOD_MASK_LOCK));
    }
    return variants;
}

void HotkeyGrabber::GrabAll()
{
    lastError_.clear();
    ReleaseAll();

    const KeyboardMap map(connection_);
    if (!map.Error().empty())
        lastError_ = map.Error();
    numLockMask_ = map.NumLockMask();
    altMask_ = map.AltMask();
    const std::vector<uint16_t> variants = LockVariants();

    struct Pending {
        int Id;
        xcb_keycode_t Keycode;
        uint16_t Modifiers;
        xcb_void_cookie_t Cookie;
    };
    std::vector<Pending> pending;

    for (int id = 0; id < kHotkeyCount; ++id) {
        const settings::ShortcutParts parts = settings::SplitShortcut(words_[id]);
        const std::optional<uint32_t> keysym = settings::KeysymOfVirtualKey(parts.Key);
        if (!keysym) {
            status_[id] = {HotkeyState::NoKey, "virtual-key code " + Hex(parts.Key) + " has no keysym"};
            continue;
        }
        IdGrab grab;
        grab.Keycodes = map.KeycodesOf(*keysym);
        if (grab.Keycodes.empty()) {
            status_[id] = {HotkeyState::NoKey, "keysym " + Hex(*keysym) + " is on no key of the keyboard"};
            continue;
        }
        grab.Modifiers = settings::DecodeModifiers(static_cast<uint8_t>(words_[id] >> 8));
        if (grab.Modifiers & settings::kXMod1Mask)
            grab.Modifiers = static_cast<uint16_t>((grab.Modifiers & ~settings::kXMod1Mask) | altMask_);

        int holder = -1;
        for (int lower = 0; lower < id && holder < 0; ++lower) {
            const IdGrab& other = grabs_[lower];
            if (other.Modifiers != grab.Modifiers || status_[lower].State != HotkeyState::Grabbed)
                continue;
            for (xcb_keycode_t k : grab.Keycodes)
                if (std::find(other.Keycodes.begin(), other.Keycodes.end(), k) != other.Keycodes.end())
                    holder = lower;
        }
        if (holder >= 0) {
            status_[id] = {HotkeyState::Duplicate, "same shortcut as hotkey " + std::to_string(holder)};
            continue;
        }

        for (xcb_keycode_t keycode : grab.Keycodes)
            for (uint16_t lock : variants) {
                const uint16_t modifiers = static_cast<uint16_t>(grab.Modifiers | lock);
                pending.push_back({id, keycode, modifiers,
                                   xcb_grab_key_checked(connection_, 0, root_, modifiers, keycode,
                                                        XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)});
            }
        grabs_[id] = std::move(grab);
        status_[id] = {HotkeyState::Grabbed, {}};
    }

    for (const Pending& p : pending) {
        xcb_generic_error_t* error = xcb_request_check(connection_, p.Cookie);
        if (!error)
            continue;
        if (status_[p.Id].State == HotkeyState::Grabbed)
            status_[p.Id] = {HotkeyState::Refused,
                             platform::DescribeXError("grabbing keycode " + std::to_string(p.Keycode) +
                                                          " with modifiers " + Hex(p.Modifiers) +
                                                          " for hotkey " + std::to_string(p.Id),
                                                      error)};
        std::free(error);
    }
    if (xcb_connection_has_error(connection_)) {
        for (HotkeyStatus& s : status_)
            if (s.State == HotkeyState::Grabbed)
                s = {HotkeyState::Refused, platform::DescribeXFailure("grabbing the hotkeys", connection_)};
        return;
    }

    // A refused id keeps none of its variants: it either works in every lock state or not at all.
    for (int id = 0; id < kHotkeyCount; ++id)
        if (status_[id].State == HotkeyState::Refused)
            Ungrab(grabs_[id]);
}

void HotkeyGrabber::Ungrab(const IdGrab& grab)
{
    std::vector<xcb_void_cookie_t> cookies;
    for (xcb_keycode_t keycode : grab.Keycodes)
        for (uint16_t lock : LockVariants())
            cookies.push_back(xcb_ungrab_key_checked(connection_, keycode, root_,
                                                     static_cast<uint16_t>(grab.Modifiers | lock)));
    for (xcb_void_cookie_t cookie : cookies) {
        std::string error;
        if (!platform::XcbCheck(connection_, cookie, "releasing a hotkey grab", &error) && lastError_.empty())
            lastError_ = error;
    }
}

void HotkeyGrabber::ReleaseAll()
{
    for (int id = 0; id < kHotkeyCount; ++id) {
        if (status_[id].State == HotkeyState::Grabbed)
            Ungrab(grabs_[id]);
        grabs_[id] = {};
        status_[id] = {};
    }
}

int HotkeyGrabber::Match(const xcb_key_press_event_t* event) const
{
    if (!event || (event->response_type & 0x7f) != XCB_KEY_PRESS || event->root != root_)
        return -1;
    const uint16_t modifiers =
        static_cast<uint16_t>(event->state & kKeyModifierBits & ~(XCB_MOD_MASK_LOCK | numLockMask_));
    for (int id = 0; id < kHotkeyCount; ++id) {
        const IdGrab& grab = grabs_[id];
        if (status_[id].State == HotkeyState::Grabbed && grab.Modifiers == modifiers &&
            std::find(grab.Keycodes.begin(), grab.Keycodes.end(), event->detail) != grab.Keycodes.end())
            return id;
    }
    return -1;
}

bool HotkeyGrabber::HandleKeymapEvent(const xcb_generic_event_t* event)
{
    if (!event)
        return false;
    const uint8_t type = event->response_type & 0x7f;
    bool changed = false;
    if (type == XCB_MAPPING_NOTIFY) {
        const auto* notify = reinterpret_cast<const xcb_mapping_notify_event_t*>(event);
        changed = notify->request == XCB_MAPPING_KEYBOARD || notify->request == XCB_MAPPING_MODIFIER;
    } else if (xkbFirstEvent_ != 0 && type == xkbFirstEvent_) {
        // Keyboard-extension events carry their kind in the second byte.
        const uint8_t xkbType = reinterpret_cast<const uint8_t*>(event)[1];
        changed = xkbType == kXkbNewKeyboardNotify || xkbType == kXkbMapNotify;
    }
    if (changed && registered_)
        GrabAll();
    return changed;
}
