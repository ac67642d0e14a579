// links: tavrec_settings
// The virtual-key table both ways, the shortcut word's text and X modifier masks, and
// which words a shortcut field may take.
#include <gtest/gtest.h>

#include "settings/VirtualKeys.h"

using namespace settings;

TEST(VirtualKeys, TableAndShortcutWords)
{
    int known = 0;
    for (int vk = 0; vk < 256; ++vk)
        if (const std::optional<uint32_t> keysym = KeysymOfVirtualKey(static_cast<uint8_t>(vk))) {
            ++known;
            EXPECT_EQ(VirtualKeyOfKeysym(*keysym), vk) << "keysym " << *keysym;
            EXPECT_NE(VirtualKeyName(static_cast<uint8_t>(vk)), "") << vk;
        }
    EXPECT_GT(known, 26 + 10 + 24 + 16);
    for (uint8_t vk : {0, 1, 2, 0x10, 0x11, 0x12})  // the stored default, mouse buttons, modifiers
        EXPECT_FALSE(KeysymOfVirtualKey(vk)) << int(vk);
    // Keysym values as the X keysym list has them: F9, a, KP_0.
    EXPECT_EQ(KeysymOfVirtualKey(0x78), 0xffc6u);
    EXPECT_EQ(KeysymOfVirtualKey('A'), 0x61u);
    EXPECT_EQ(KeysymOfVirtualKey(0x60), 0xffb0u);
    // Other states of a key name the same key: A, KP_End (numpad 1), ISO_Left_Tab.
    EXPECT_EQ(VirtualKeyOfKeysym(0x41), 'A');
    EXPECT_EQ(VirtualKeyOfKeysym(0xff9c), 0x61);
    EXPECT_EQ(VirtualKeyOfKeysym(0xfe20), 0x09);

    const ShortcutParts parts = SplitShortcut(0x7FFF2A41);  // the upper 16 bits are not read
    EXPECT_TRUE(parts.Key == 0x41 && parts.Shift && !parts.Ctrl && !parts.Alt);
    EXPECT_EQ(ShortcutText(0xC078), "Ctrl+Alt+F9");
    EXPECT_EQ(ShortcutText(MakeShortcut(0x22, true, true, true)), "Ctrl+Shift+Alt+Page Down");
    EXPECT_EQ(DecodeModifiers(0xC0), kXControlMask | kXMod1Mask);
    EXPECT_EQ(DecodeModifiers(0x1F), 0);  // the extended-key flag and the rest are not looked at

    for (int32_t word : {0xC078, 0x4041, 0xA041, 0x0001C878})
        EXPECT_TRUE(IsAcceptableShortcut(word)) << std::hex << word;
    // No modifier, Shift alone, the extended-key flag alone, codes without a key.
    for (int32_t word : {0x0078, 0x2078, 0x0878, 0xC001, 0xC000})
        EXPECT_FALSE(IsAcceptableShortcut(word)) << std::hex << word;
}
