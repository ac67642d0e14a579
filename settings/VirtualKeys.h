// Virtual-key codes and the 16-bit shortcut word built on them.
//
// A shortcut word holds a virtual-key code (the usual Windows VK values) in bits
// 0-7 and its modifiers in bits 13 (Shift), 14 (Ctrl) and 15 (Alt); bits 8-12 carry
// nothing here and are ignored wherever a word is read. The table below maps every
// virtual-key code we can grab to an X keysym and back, and names it for display.
// Plain data: no X connection, no toolkit.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace settings {

inline constexpr uint16_t kShortcutShift = 0x2000;
inline constexpr uint16_t kShortcutCtrl = 0x4000;
inline constexpr uint16_t kShortcutAlt = 0x8000;
inline constexpr uint16_t kShortcutKeyMask = 0x00FF;

// X core modifier masks, as carried in key events and grab requests.
inline constexpr uint16_t kXShiftMask = 0x0001;
inline constexpr uint16_t kXLockMask = 0x0002;
inline constexpr uint16_t kXControlMask = 0x0004;
inline constexpr uint16_t kXMod1Mask = 0x0008;  // Alt on every common keymap

// The X keysym of a virtual-key code, or nullopt for a code the table does not hold
// (0, the mouse-button codes 1-6 such as the stored default 1, the modifier keys
// themselves, unassigned codes).
std::optional<uint32_t> KeysymOfVirtualKey(uint8_t vk);

// The virtual-key code of an X keysym, or nullopt. Takes the keysym of a key's first
// level; upper-case letters, keypad keys with NumLock off (KP_End is numpad 1) and
// ISO_Left_Tab are accepted as well, so a key read with Shift or without NumLock still
// names the key that was pressed.
std::optional<uint8_t> VirtualKeyOfKeysym(uint32_t keysym);

// Display name of a virtual-key code ("F9", "A", "Num 7", "Page Up", ";"); empty for
// a code the table does not hold.
std::string VirtualKeyName(uint8_t vk);

// The parts of a shortcut word (only its low 16 bits are read).
struct ShortcutParts {
    uint8_t Key = 0;
    bool Shift = false;
    bool Ctrl = false;
    bool Alt = false;
};

uint16_t MakeShortcut(uint8_t vk, bool shift, bool ctrl, bool alt);
ShortcutParts SplitShortcut(int32_t word);

// Turns bits 8-15 of a shortcut word into X modifier masks: 0x20 gives ShiftMask,
// 0x40 ControlMask, 0x80 Mod1Mask (Alt), combined; no other bit is looked at.
uint16_t DecodeModifiers(uint8_t highByte);

// Display text of a shortcut word, modifiers first: "Ctrl+Shift+Alt+F9"; the key
// alone when there are no modifiers; empty when the key has no name.
std::string ShortcutText(int32_t word);

// Whether a shortcut field may take the word: a key of the table with Ctrl or Alt
// (Shift may come on top). A key without modifier or with Shift alone is refused.
bool IsAcceptableShortcut(int32_t word);

}  // namespace settings
