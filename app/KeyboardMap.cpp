#include "app/KeyboardMap.h"

#include <xcb/xcb_keysyms.h>

#include <algorithm>
#include <cstdlib>

#include "platform/x11/XDisplayError.h"

namespace {

constexpr uint32_t kNumLockKeysym = 0xff7f;
constexpr uint32_t kAltKeysyms[] = {0xffe9, 0xffea, 0xffe7, 0xffe8};  // Alt_L, Alt_R, Meta_L, Meta_R
constexpr int kLevelsLooked = 4;  // two groups of two levels

}  // namespace

KeyboardMap::KeyboardMap(xcb_connection_t* connection) : symbols_(xcb_key_symbols_alloc(connection))
{
    if (!symbols_) {
        error_ = platform::DescribeXFailure("reading the keyboard mapping", connection);
        return;
    }
    ReadModifiers(connection);
}

KeyboardMap::~KeyboardMap()
{
    if (symbols_)
        xcb_key_symbols_free(symbols_);
}

std::vector<xcb_keycode_t> KeyboardMap::KeycodesOf(uint32_t keysym) const
{
    std::vector<xcb_keycode_t> keycodes;
    if (!symbols_ || keysym == XCB_NO_SYMBOL)
        return keycodes;
    xcb_keycode_t* found = xcb_key_symbols_get_keycode(symbols_, keysym);
    if (!found)
        return keycodes;
    for (xcb_keycode_t* k = found; *k != XCB_NO_SYMBOL; ++k)
        if (*k != 0 && std::find(keycodes.begin(), keycodes.end(), *k) == keycodes.end())
            keycodes.push_back(*k);
    std::free(found);
    return keycodes;
}

void KeyboardMap::ReadModifiers(xcb_connection_t* connection)
{
    platform::XcbPtr<xcb_get_modifier_mapping_reply_t> reply = platform::XcbReply(
        connection, xcb_get_modifier_mapping(connection), xcb_get_modifier_mapping_reply,
        "reading the modifier mapping", &error_);
    if (!reply)
        return;
    const xcb_keycode_t* keycodes = xcb_get_modifier_mapping_keycodes(reply.get());
    const int perModifier = reply->keycodes_per_modifier;
    bool altFound = false;
    // Rows 0-2 are Shift, Lock and Control; Mod1 to Mod5 follow.
    for (int row = 3; row < 8; ++row) {
        for (int i = 0; i < perModifier; ++i) {
            const xcb_keycode_t keycode = keycodes[row * perModifier + i];
            if (keycode == 0)
                continue;
            for (int level = 0; level < kLevelsLooked; ++level) {
                const xcb_keysym_t sym = xcb_key_symbols_get_keysym(symbols_, keycode, level);
                if (sym == kNumLockKeysym && numLockMask_ == 0)
                    numLockMask_ = static_cast<uint16_t>(1u << row);
                if (!altFound && std::find(std::begin(kAltKeysyms), std::end(kAltKeysyms), sym) !=
                                     std::end(kAltKeysyms)) {
                    altMask_ = static_cast<uint16_t>(1u << row);
                    altFound = true;
                }
            }
        }
    }
}
