// links: tavrec_hotkeys
// Shortcut words in the portal's trigger syntax: modifiers in the one order, then the
// keysym's name as the portal looks it up; a word without a key gives no trigger.
#include <gtest/gtest.h>

#include "app/PortalTrigger.h"

namespace {

// Bits 8-15 of a word: 0x20 Shift, 0x40 Ctrl, 0x80 Alt.
int32_t Word(uint8_t vk, uint8_t modifiers)
{
    return static_cast<int32_t>(vk | (modifiers << 8));
}

TEST(PortalTrigger, ModifiersThenTheKeysymName)
{
    EXPECT_EQ(PortalTrigger(Word(0x78, 0x60)), "CTRL+SHIFT+F9");
    EXPECT_EQ(PortalTrigger(Word(0x53, 0xC0)), "CTRL+ALT+s");
    EXPECT_EQ(PortalTrigger(Word(0x31, 0xE0)), "CTRL+ALT+SHIFT+1");
    EXPECT_EQ(PortalTrigger(Word(0x2C, 0x80)), "ALT+Print");
    EXPECT_EQ(PortalTrigger(Word(0x21, 0x40)), "CTRL+Prior");  // Page Up
    EXPECT_EQ(PortalTrigger(Word(0x60, 0x40)), "CTRL+KP_0");
}

TEST(PortalTrigger, AWordWithoutAKeyGivesNone)
{
    EXPECT_EQ(PortalTrigger(0), "");
    EXPECT_EQ(PortalTrigger(Word(0x01, 0x40)), "");  // a mouse button
    EXPECT_EQ(PortalTrigger(Word(0x11, 0x40)), "");  // Ctrl itself
}

}  // namespace
