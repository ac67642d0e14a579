// A snapshot of the X keyboard mapping: which keycodes carry a keysym, and which
// modifier bits NumLock and Alt sit on. Taken anew whenever the mapping changes.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <string>
#include <vector>

typedef struct _XCBKeySymbols xcb_key_symbols_t;

class KeyboardMap {
public:
    // Reads the mapping over the connection; Error() says what could not be read.
    explicit KeyboardMap(xcb_connection_t* connection);
    ~KeyboardMap();
    KeyboardMap(const KeyboardMap&) = delete;
    KeyboardMap& operator=(const KeyboardMap&) = delete;

    // Every keycode that carries the keysym at any level, without duplicates; never
    // keycode 0 (which would stand for any key in a grab).
    std::vector<xcb_keycode_t> KeycodesOf(uint32_t keysym) const;

    // The modifier bit of the Num_Lock key, 0 when no modifier holds it.
    uint16_t NumLockMask() const { return numLockMask_; }
    // The modifier bit of the Alt keys: Mod1 unless the mapping puts them elsewhere.
    uint16_t AltMask() const { return altMask_; }

    const std::string& Error() const { return error_; }

private:
    void ReadModifiers(xcb_connection_t* connection);

    xcb_key_symbols_t* symbols_;
    uint16_t numLockMask_ = 0;
    uint16_t altMask_ = XCB_MOD_MASK_1;
    std::string error_;
};
