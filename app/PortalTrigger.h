// A shortcut word of the settings written in the trigger syntax of the desktop
// portal's global shortcuts: modifiers first ("CTRL", "ALT", "SHIFT"), then the
// key's X keysym name, joined with "+": "CTRL+SHIFT+F9", "CTRL+ALT+p".
#pragma once

#include <cstdint>
#include <string>

// Empty when the word's key has no keysym (no key set, or one of no keyboard).
std::string PortalTrigger(int32_t shortcutWord);
