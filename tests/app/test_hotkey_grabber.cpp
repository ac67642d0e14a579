// links: tavrec_hotkeys
// Global shortcuts in the session's X server: key presses made with xdotool (XTEST)
// reach Match under the id they were registered for, in every lock state; words
// without a key grab nothing; the lowest of equal ids wins; a key another client holds
// fails for its id alone; the grabs follow a change of the keyboard mapping.
#include <gtest/gtest.h>

#include <unistd.h>
#include <xcb/xcb.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>

#include "app/HotkeyGrabber.h"
#include "app/KeyboardMap.h"

namespace {

using Press = std::optional<xcb_key_press_event_t>;

int Sh(const std::string& command) { return std::system(("timeout 10 " + command).c_str()); }

std::array<HotkeyEntry, kHotkeyCount> Entries(std::array<int32_t, kHotkeyCount> words)
{
    std::array<HotkeyEntry, kHotkeyCount> entries{};
    for (int i = 0; i < kHotkeyCount; ++i)
        entries[i].Shortcut = words[i];
    return entries;
}

class HotkeyGrabberTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(xcb_connection_has_error(connection_), 0) << "no X server: run inside tests/desktop-session.sh";
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        grabber_.emplace(connection_, root_);
    }
    void TearDown() override
    {
        grabber_.reset();
        // Leave no lock on for the next test.
        auto* p = xcb_query_pointer_reply(connection_, xcb_query_pointer(connection_, root_), nullptr);
        if (p && (p->mask & XCB_MOD_MASK_LOCK))
            Sh("xdotool key Caps_Lock");
        if (p && (p->mask & XCB_MOD_MASK_2))
            Sh("xdotool key Num_Lock");
        std::free(p);
        xcb_disconnect(connection_);
    }

    // Reads events for the time given, passing keymap changes to the grabber, until a
    // key press arrives if one is asked for. True when the keymap changed.
    bool Pump(int ms, Press* press = nullptr)
    {
        bool keymap = false;
        for (auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
             std::chrono::steady_clock::now() < end;) {
            xcb_generic_event_t* e = xcb_poll_for_event(connection_);
            if (!e) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            keymap |= grabber_->HandleKeymapEvent(e);
            const bool isPress = press && (e->response_type & 0x7f) == XCB_KEY_PRESS;
            if (isPress)
                *press = *reinterpret_cast<xcb_key_press_event_t*>(e);
            std::free(e);
            if (isPress)
                break;
        }
        return keymap;
    }

    // Presses the keys; the key press that reached this client, if any.
    Press KeyPress(const std::string& keys)
    {
        Pump(30);
        EXPECT_EQ(Sh("xdotool key " + keys), 0);
        Press press;
        Pump(1500, &press);
        Pump(50);  // the release
        return press;
    }
    int MatchOf(const std::string& keys)
    {
        const Press press = KeyPress(keys);
        return press ? grabber_->Match(&*press) : -100;
    }

    xcb_connection_t* connection_ = xcb_connect(nullptr, nullptr);
    xcb_window_t root_ = 0;
    std::optional<HotkeyGrabber> grabber_;
};

TEST_F(HotkeyGrabberTest, PressesMatchTheirIdInEveryLockState)
{
    ASSERT_TRUE(grabber_->RegisterHotkeys(Entries({0xC079, 1, 0xC078, 1, 1, 0x607A})));
    EXPECT_EQ(MatchOf("ctrl+alt+F9"), 2);
    EXPECT_EQ(MatchOf("ctrl+alt+F10"), 0);
    EXPECT_EQ(MatchOf("ctrl+shift+F11"), 5);
    Sh("xdotool key Num_Lock");
    const Press press = KeyPress("ctrl+alt+F9");
    ASSERT_TRUE(press);
    EXPECT_TRUE(press->state & XCB_MOD_MASK_2);
    EXPECT_EQ(grabber_->Match(&*press), 2);
    Sh("xdotool key Caps_Lock");
    EXPECT_EQ(MatchOf("ctrl+alt+F9"), 2);

    grabber_->UnregisterHotkeys();
    EXPECT_FALSE(KeyPress("ctrl+alt+F9"));
}

TEST_F(HotkeyGrabberTest, WordsWithoutAKeyGrabNothing)
{
    // The stored default 1, a bare Ctrl, Ctrl+Alt with an unassigned code.
    ASSERT_TRUE(grabber_->RegisterHotkeys(Entries({1, 0x4000, 0xC007, 0x00010001, 1, 1})));
    for (int id = 0; id < kHotkeyCount; ++id)
        EXPECT_EQ(grabber_->Status(id).State, HotkeyState::NoKey) << id;
    // A grab of keycode 0 would catch every one of these.
    EXPECT_FALSE(KeyPress("a"));
    EXPECT_FALSE(KeyPress("ctrl+b"));
    EXPECT_FALSE(KeyPress("ctrl+alt+c"));
}

TEST_F(HotkeyGrabberTest, TheLowestOfEqualIdsWins)
{
    // 0xC878 differs only in the extended-key flag, which is no part of the shortcut.
    ASSERT_TRUE(grabber_->RegisterHotkeys(Entries({1, 0xC078, 1, 0xC078, 0xC878, 0xC079})));
    EXPECT_EQ(grabber_->Status(4).State, HotkeyState::Duplicate);
    EXPECT_EQ(MatchOf("ctrl+alt+F9"), 1);
    EXPECT_EQ(MatchOf("ctrl+alt+F10"), 5);
}

TEST_F(HotkeyGrabberTest, AKeyHeldByAnotherClientFailsForItsIdOnly)
{
    xcb_connection_t* other = xcb_connect(nullptr, nullptr);
    const std::vector<xcb_keycode_t> f11 = KeyboardMap(other).KeycodesOf(0xffc8);
    ASSERT_EQ(f11.size(), 1u);
    ASSERT_EQ(xcb_request_check(other, xcb_grab_key_checked(other, 0, root_, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1,
                                                            f11[0], XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)),
              nullptr);

    EXPECT_FALSE(grabber_->RegisterHotkeys(Entries({0xC078, 1, 0xC07A, 1, 1, 1})));
    EXPECT_EQ(grabber_->Status(2).State, HotkeyState::Refused);
    EXPECT_NE(grabber_->Status(2).Error.find("BadAccess (error_code 10), major opcode 33"), std::string::npos)
        << grabber_->Status(2).Error;
    EXPECT_EQ(MatchOf("ctrl+alt+F9"), 0);
    EXPECT_FALSE(KeyPress("ctrl+alt+F11"));

    xcb_disconnect(other);
    EXPECT_TRUE(grabber_->RegisterHotkeys(Entries({0xC078, 1, 0xC07A, 1, 1, 1})));
    EXPECT_EQ(MatchOf("ctrl+alt+F11"), 2);
}

TEST_F(HotkeyGrabberTest, GrabsFollowAKeymapChange)
{
    // The keymap as it was, put back however the test ends.
    struct SavedKeymap {
        std::string path = ::testing::TempDir() + "tavrec-keymap-" + std::to_string(getpid()) + ".xkb";
        bool saved = Sh("xkbcomp -xkb \"$DISPLAY\" " + path + " 2>/dev/null") == 0;
        ~SavedKeymap()
        {
            if (saved)
                Sh("xkbcomp " + path + " \"$DISPLAY\" 2>/dev/null");
            std::remove(path.c_str());
        }
    } keymap;
    ASSERT_TRUE(keymap.saved);
    ASSERT_TRUE(grabber_->RegisterHotkeys(Entries({0xC078, 1, 1, 1, 1, 1})));
    Press press = KeyPress("ctrl+alt+F9");
    ASSERT_TRUE(press);

    // F9 moves to another key, NumLock to another modifier bit.
    const xcb_keycode_t moved = press->detail == 200 ? 201 : 200;
    Sh("xmodmap -e 'keycode " + std::to_string(press->detail) + " = NoSymbol' -e 'keycode " +
       std::to_string(moved) + " = F9' -e 'remove mod2 = Num_Lock' -e 'add mod3 = Num_Lock'");
    EXPECT_TRUE(Pump(1000));
    Pump(200);
    Sh("xdotool key Num_Lock");
    press = KeyPress("ctrl+alt+F9");
    ASSERT_TRUE(press);
    EXPECT_EQ(press->detail, moved);
    EXPECT_TRUE(press->state & XCB_MOD_MASK_3);
    EXPECT_EQ(grabber_->Match(&*press), 0);
    Sh("xdotool key Num_Lock");
}

}  // namespace
