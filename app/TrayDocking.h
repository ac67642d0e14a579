// Whether the tray icon really sits in a tray host. On X11 the icon is a small
// window of the program's own that the host embeds (reparents into itself); a host
// that refuses it leaves it on the root window, one that goes away drops it (back to
// the root window, or destroyed with the host). Qt says nothing of either.
#pragma once

enum class TrayDocking {
    Docked,     // the icon window sits in the host
    Undocked,   // there is an icon window, but no host holds it
    NoWindow,   // no icon window (the icon went over D-Bus, or Qt dropped the window)
};

// Looks at the X11 tray icon window Qt made for this process.
TrayDocking CurrentTrayDocking();
