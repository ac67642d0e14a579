#include "settings/VirtualKeys.h"

#define XK_MISCELLANY
#define XK_LATIN1
#define XK_XKB_KEYS
#include <X11/XF86keysym.h>
#include <X11/keysymdef.h>

#include <array>

namespace settings {

namespace {

struct VirtualKey {
    uint8_t vk;
    uint32_t keysym;
    const char* name;
};

// Keys with a fixed virtual-key code and keysym. Letters, digits and F-keys follow
// below by arithmetic.
constexpr VirtualKey kNamedKeys[] = {
    {0x08, XK_BackSpace, "Backspace"},
    {0x09, XK_Tab, "Tab"},
    {0x0C, XK_Clear, "Clear"},
    {0x0D, XK_Return, "Enter"},
    {0x13, XK_Pause, "Pause"},
    {0x1B, XK_Escape, "Esc"},
    {0x20, XK_space, "Space"},
    {0x21, XK_Prior, "Page Up"},
    {0x22, XK_Next, "Page Down"},
    {0x23, XK_End, "End"},
    {0x24, XK_Home, "Home"},
    {0x25, XK_Left, "Left"},
    {0x26, XK_Up, "Up"},
    {0x27, XK_Right, "Right"},
    {0x28, XK_Down, "Down"},
    {0x29, XK_Select, "Select"},
    {0x2C, XK_Print, "Print"},
    {0x2D, XK_Insert, "Insert"},
    {0x2E, XK_Delete, "Delete"},
    {0x2F, XK_Help, "Help"},
    {0x5B, XK_Super_L, "Left Win"},
    {0x5C, XK_Super_R, "Right Win"},
    {0x5D, XK_Menu, "Menu"},
    {0x5F, XF86XK_Sleep, "Sleep"},
    {0x6A, XK_KP_Multiply, "Num *"},
    {0x6B, XK_KP_Add, "Num +"},
    {0x6C, XK_KP_Separator, "Num Separator"},
    {0x6D, XK_KP_Subtract, "Num -"},
    {0x6E, XK_KP_Decimal, "Num ."},
    {0x6F, XK_KP_Divide, "Num /"},
    {0x91, XK_Scroll_Lock, "Scroll Lock"},
    {0xA6, XF86XK_Back, "Browser Back"},
    {0xA7, XF86XK_Forward, "Browser Forward"},
    {0xA8, XF86XK_Refresh, "Browser Refresh"},
    {0xA9, XF86XK_Stop, "Browser Stop"},
    {0xAA, XF86XK_Search, "Browser Search"},
    {0xAB, XF86XK_Favorites, "Browser Favorites"},
    {0xAC, XF86XK_HomePage, "Browser Home"},
    {0xAD, XF86XK_AudioMute, "Volume Mute"},
    {0xAE, XF86XK_AudioLowerVolume, "Volume Down"},
    {0xAF, XF86XK_AudioRaiseVolume, "Volume Up"},
    {0xB0, XF86XK_AudioNext, "Next Track"},
    {0xB1, XF86XK_AudioPrev, "Previous Track"},
    {0xB2, XF86XK_AudioStop, "Stop Media"},
    {0xB3, XF86XK_AudioPlay, "Play/Pause"},
    {0xB4, XF86XK_Mail, "Mail"},
    {0xBA, XK_semicolon, ";"},
    {0xBB, XK_equal, "="},
    {0xBC, XK_comma, ","},
    {0xBD, XK_minus, "-"},
    {0xBE, XK_period, "."},
    {0xBF, XK_slash, "/"},
    {0xC0, XK_grave, "`"},
    {0xDB, XK_bracketleft, "["},
    {0xDC, XK_backslash, "\\"},
    {0xDD, XK_bracketright, "]"},
    {0xDE, XK_apostrophe, "'"},
    {0xE2, XK_less, "<"},
};

// Keysyms that name a key of the table in another state of that key.
struct KeysymAlias {
    uint32_t keysym;
    uint8_t vk;
};
constexpr KeysymAlias kAliases[] = {
    {XK_ISO_Left_Tab, 0x09}, {XK_KP_Enter, 0x0D},
    {XK_KP_Insert, 0x60},    {XK_KP_End, 0x61},   {XK_KP_Down, 0x62}, {XK_KP_Next, 0x63},
    {XK_KP_Left, 0x64},      {XK_KP_Begin, 0x65}, {XK_KP_Right, 0x66}, {XK_KP_Home, 0x67},
    {XK_KP_Up, 0x68},        {XK_KP_Prior, 0x69}, {XK_KP_Delete, 0x6E},
};

constexpr int kFunctionKeys = 24;  // F1 (0x70) to F24 (0x87)

const VirtualKey* FindNamed(uint8_t vk)
{
    for (const VirtualKey& k : kNamedKeys)
        if (k.vk == vk)
            return &k;
    return nullptr;
}

}  // namespace

std::optional<uint32_t> KeysymOfVirtualKey(uint8_t vk)
{
    if (vk >= '0' && vk <= '9')
        return XK_0 + (vk - '0');
    if (vk >= 'A' && vk <= 'Z')
        return XK_a + (vk - 'A');  // the unshifted keysym, first level of the key
    if (vk >= 0x60 && vk <= 0x69)
        return XK_KP_0 + (vk - 0x60);
    if (vk >= 0x70 && vk < 0x70 + kFunctionKeys)
        return XK_F1 + (vk - 0x70);
    if (const VirtualKey* k = FindNamed(vk))
        return k->keysym;
    return std::nullopt;
}

std::optional<uint8_t> VirtualKeyOfKeysym(uint32_t keysym)
{
    if (keysym >= XK_0 && keysym <= XK_9)
        return static_cast<uint8_t>('0' + (keysym - XK_0));
    if (keysym >= XK_a && keysym <= XK_z)
        return static_cast<uint8_t>('A' + (keysym - XK_a));
    if (keysym >= XK_A && keysym <= XK_Z)
        return static_cast<uint8_t>('A' + (keysym - XK_A));
    if (keysym >= XK_KP_0 && keysym <= XK_KP_9)
        return static_cast<uint8_t>(0x60 + (keysym - XK_KP_0));
    if (keysym >= XK_F1 && keysym < XK_F1 + kFunctionKeys)
        return static_cast<uint8_t>(0x70 + (keysym - XK_F1));
    for (const VirtualKey& k : kNamedKeys)
        if (k.keysym == keysym)
            return k.vk;
    for (const KeysymAlias& a : kAliases)
        if (a.keysym == keysym)
            return a.vk;
    return std::nullopt;
}

std::string VirtualKeyName(uint8_t vk)
{
    if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z'))
        return std::string(1, static_cast<char>(vk));
    if (vk >= 0x60 && vk <= 0x69)
        return "Num " + std::to_string(vk - 0x60);
    if (vk >= 0x70 && vk < 0x70 + kFunctionKeys)
        return "F" + std::to_string(vk - 0x70 + 1);
    if (const VirtualKey* k = FindNamed(vk))
        return k->name;
    return {};
}

uint16_t MakeShortcut(uint8_t vk, bool shift, bool ctrl, bool alt)
{
    uint16_t word = vk;
    if (shift)
        word |= kShortcutShift;
    if (ctrl)
        word |= kShortcutCtrl;
    if (alt)
        word |= kShortcutAlt;
    return word;
}

ShortcutParts SplitShortcut(int32_t word)
{
    const uint16_t low = static_cast<uint16_t>(word);
    ShortcutParts parts;
    parts.Key = static_cast<uint8_t>(low & kShortcutKeyMask);
    parts.Shift = (low & kShortcutShift) != 0;
    parts.Ctrl = (low & kShortcutCtrl) != 0;
    parts.Alt = (low & kShortcutAlt) != 0;
    return parts;
}

uint16_t DecodeModifiers(uint8_t highByte)
{
    uint16_t mask = 0;
    if (highByte & 0x20)
        mask |= kXShiftMask;
    if (highByte & 0x40)
        mask |= kXControlMask;
    if (highByte & 0x80)
        mask |= kXMod1Mask;
    return mask;
}

std::string ShortcutText(int32_t word)
{
    const ShortcutParts parts = SplitShortcut(word);
    const std::string key = VirtualKeyName(parts.Key);
    if (key.empty())
        return {};
    std::string text;
    if (parts.Ctrl)
        text += "Ctrl+";
    if (parts.Shift)
        text += "Shift+";
    if (parts.Alt)
        text += "Alt+";
    return text + key;
}

bool IsAcceptableShortcut(int32_t word)
{
    const ShortcutParts parts = SplitShortcut(word);
    return KeysymOfVirtualKey(parts.Key).has_value() && (parts.Ctrl || parts.Alt);
}

}  // namespace settings
