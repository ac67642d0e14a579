// The six global shortcuts as passive key grabs on the root window.
//
// The grabber works on the program's own X connection (the one its toolkit reads),
// so the grabbed key presses arrive among the program's events; the program hands
// every key press to Match and every event to HandleKeymapEvent. It does not read
// events itself. Use it from the thread that owns the connection, and destroy it
// before the connection is closed.
#pragma once

#include <xcb/xcb.h>

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "settings/RecorderSettings.h"

enum class HotkeyState {
    Unset,      // not registered
    NoKey,      // the word names no key of the table or of the keyboard: nothing grabbed
    Duplicate,  // a lower id holds the same key and modifiers: nothing grabbed
    Grabbed,
    Refused,    // the server refused a grab (another client holds the key)
};

struct HotkeyStatus {
    HotkeyState State = HotkeyState::Unset;
    // Why the id holds no grab, with the X error's fields when the server refused it.
    std::string Error;
};

class HotkeyGrabber {
public:
    HotkeyGrabber(xcb_connection_t* connection, xcb_window_t root);
    ~HotkeyGrabber();  // releases the grabs it holds
    HotkeyGrabber(const HotkeyGrabber&) = delete;
    HotkeyGrabber& operator=(const HotkeyGrabber&) = delete;

    // Grabs the shortcut of each entry, id 0 to 5 in order, releasing earlier grabs of
    // this grabber first. Each key is grabbed with and without NumLock and CapsLock.
    // An id whose key and modifiers a lower id already holds is left out, so the
    // lowest id wins. True when the server refused no grab; a refusal is reported in
    // Status(id) and leaves that id without any grab, the other ids unaffected.
    bool RegisterHotkeys(std::span<const HotkeyEntry, kHotkeyCount> hotkeys);

    // Releases every grab; the ids become Unset.
    void UnregisterHotkeys();

    // The id whose shortcut the key press is, or -1. NumLock and CapsLock are ignored.
    int Match(const xcb_key_press_event_t* event) const;

    // Grabs the registered shortcuts again when the event says the keyboard mapping
    // changed (core MappingNotify of keys or modifiers, or the keyboard extension's
    // new-keyboard and map notifications), since keycodes and modifier bits may have
    // moved. True when the event was such a change.
    bool HandleKeymapEvent(const xcb_generic_event_t* event);

    const HotkeyStatus& Status(int id) const { return status_.at(id); }

    // Problems that belong to no id (reading the keyboard mapping, releasing grabs);
    // empty when there were none since the last RegisterHotkeys.
    const std::string& LastError() const { return lastError_; }

private:
    struct IdGrab {
        std::vector<xcb_keycode_t> Keycodes;
        uint16_t Modifiers = 0;
    };

    void GrabAll();
    void ReleaseAll();
    void Ungrab(const IdGrab& grab);
    std::vector<uint16_t> LockVariants() const;

    xcb_connection_t* connection_;
    xcb_window_t root_;
    uint8_t xkbFirstEvent_ = 0;  // 0 when the server has no keyboard extension
    bool registered_ = false;
    std::array<int32_t, kHotkeyCount> words_{};
    std::array<IdGrab, kHotkeyCount> grabs_{};
    std::array<HotkeyStatus, kHotkeyCount> status_{};
    uint16_t numLockMask_ = 0;
    uint16_t altMask_ = 0;
    std::string lastError_;
};
