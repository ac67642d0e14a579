// links: tavrec_settings
// The virtual-key table and the shortcut word: keysyms both ways, display text, the
// X modifier masks of a word, and which words a shortcut field may take.
#include <gtest/gtest.h>

#include "settings/VirtualKeys.h"

using namespace settings;

TEST(VirtualKeys, EveryCodeRoundTripsThroughItsKeysym)
{
    int known = 0;
    for (int vk = 0; vk < 256; ++vk) {
        const std::optional<uint32_t> keysym = KeysymOfVirtualKey(static_cast<uint8_t>(vk));
        EXPECT_EQ(keysym.has_value(), !VirtualKeyName(static_cast<uint8_t>(vk)).empty()) << vk;
        if (!keysym)
            continue;
        ++known;
        EXPECT_EQ(VirtualKeyOfKeysym(*keysym), vk) << "vk " << vk << " keysym " << *keysym;
    }
    EXPECT_GT(known, 26 + 10 + 24 + 16);
    // The codes the stored default and the mouse buttons use name no key.
    for (uint8_t vk : {0, 1, 2, 4, 0x10, 0x11, 0x12})
        EXPECT_FALSE(KeysymOfVirtualKey(vk)) << int(vk);
    // Values from the X keysym list, not from the table.
    EXPECT_EQ(KeysymOfVirtualKey(0x78), 0xffc6u);  // F9
    EXPECT_EQ(KeysymOfVirtualKey(0x87), 0xffd5u);  // F24
    EXPECT_EQ(KeysymOfVirtualKey('A'), 0x61u);     // a
    EXPECT_EQ(KeysymOfVirtualKey(0x60), 0xffb0u);  // KP_0
    EXPECT_EQ(KeysymOfVirtualKey(0x22), 0xff56u);  // Next (Page Down)
    EXPECT_EQ(KeysymOfVirtualKey(0xBA), 0x3bu);    // semicolon
    // Other states of a key name the same key.
    EXPECT_EQ(VirtualKeyOfKeysym(0x41), 'A');      // A with Shift
    EXPECT_EQ(VirtualKeyOfKeysym(0xff9c), 0x61);   // KP_End: numpad 1 without NumLock
    EXPECT_EQ(VirtualKeyOfKeysym(0xfe20), 0x09);   // ISO_Left_Tab: Shift+Tab
    EXPECT_FALSE(VirtualKeyOfKeysym(0xffe3));      // Control_L
}

TEST(VirtualKeys, ShortcutWords)
{
    EXPECT_EQ(MakeShortcut(0x78, false, true, true), 0xC078);
    const ShortcutParts parts = SplitShortcut(0x7FFF2A41);  // upper 16 bits carried, not read
    EXPECT_EQ(parts.Key, 0x41);
    EXPECT_TRUE(parts.Shift);
    EXPECT_FALSE(parts.Ctrl);
    EXPECT_FALSE(parts.Alt);
    EXPECT_EQ(ShortcutText(0xC078), "Ctrl+Alt+F9");
    EXPECT_EQ(ShortcutText(0xE022), "Ctrl+Shift+Alt+Page Down");
    EXPECT_EQ(ShortcutText(0x0061), "Num 1");
    EXPECT_EQ(ShortcutText(1), "");

    EXPECT_EQ(DecodeModifiers(0xC0), kXControlMask | kXMod1Mask);
    EXPECT_EQ(DecodeModifiers(0x20), kXShiftMask);
    EXPECT_EQ(DecodeModifiers(0xE0), kXShiftMask | kXControlMask | kXMod1Mask);
    EXPECT_EQ(DecodeModifiers(0x1F), 0);  // the extended-key flag and the rest are not looked at

    EXPECT_TRUE(IsAcceptableShortcut(0xC078));
    EXPECT_TRUE(IsAcceptableShortcut(0x4041));
    EXPECT_TRUE(IsAcceptableShortcut(0xA041));
    EXPECT_TRUE(IsAcceptableShortcut(0x0001C878));
    EXPECT_FALSE(IsAcceptableShortcut(0x0078));  // no modifier
    EXPECT_FALSE(IsAcceptableShortcut(0x2078));  // Shift alone
    EXPECT_FALSE(IsAcceptableShortcut(0x0878));  // the extended-key flag is no modifier
    EXPECT_FALSE(IsAcceptableShortcut(0xC001));  // a code without a key
    EXPECT_FALSE(IsAcceptableShortcut(0xC000));
}
