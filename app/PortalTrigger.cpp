#include "app/PortalTrigger.h"

#include <X11/Xlib.h>

#include <optional>

#include "settings/VirtualKeys.h"

std::string PortalTrigger(int32_t shortcutWord)
{
    const settings::ShortcutParts parts = settings::SplitShortcut(shortcutWord);
    const std::optional<uint32_t> keysym = settings::KeysymOfVirtualKey(parts.Key);
    if (!keysym)
        return {};
    // Xlib's table of names needs no display.
    const char* name = XKeysymToString(static_cast<KeySym>(*keysym));
    if (!name || !*name)
        return {};
    std::string trigger;
    if (parts.Ctrl)
        trigger += "CTRL+";
    if (parts.Alt)
        trigger += "ALT+";
    if (parts.Shift)
        trigger += "SHIFT+";
    return trigger + name;
}
