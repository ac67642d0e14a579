// The six global shortcuts of the Hotkeys array, grabbed on the root window over the
// application's own X connection, so that their key presses reach AppMessage.
#include <QAbstractNativeEventFilter>
#include <QGuiApplication>

#include "app/HotkeyGrabber.h"
#include "app/Tavrecmain.h"

// The grabs, and a watch that makes them again when the keyboard mapping changes
// (keycodes and modifier bits may have moved).
class ShortcutGrabs : public QAbstractNativeEventFilter {
public:
    ShortcutGrabs(xcb_connection_t* connection, xcb_window_t root) : grabber(connection, root), root(root)
    {
        qApp->installNativeEventFilter(this);
    }
    ~ShortcutGrabs() override
    {
        if (qApp)
            qApp->removeNativeEventFilter(this);
    }
    ShortcutGrabs(const ShortcutGrabs&) = delete;
    ShortcutGrabs& operator=(const ShortcutGrabs&) = delete;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override
    {
        if (eventType == "xcb_generic_event_t")
            grabber.HandleKeymapEvent(static_cast<const xcb_generic_event_t*>(message));
        return false;  // Qt keeps its own view of the mapping up to date too
    }

    HotkeyGrabber grabber;
    xcb_window_t root;  // the window the keys are grabbed on
};

void TfrmMain::ShortcutGrabsDeleter::operator()(ShortcutGrabs* grabs) const
{
    delete grabs;
}

void TfrmMain::UnregisterHotkeys()
{
    if (hotkeys_)
        hotkeys_->grabber.UnregisterHotkeys();
}

void TfrmMain::RegisterHotkeys()
{
    if (!hotkeys_) {
        auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
        if (!x11 || !x11->connection())
            return;  // not on X: no shortcuts
        xcb_connection_t* connection = x11->connection();
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
        hotkeys_.reset(new ShortcutGrabs(connection, root));
    }
    // A refused grab leaves only that shortcut dead (BadAccess is never fatal).
    hotkeys_->grabber.RegisterHotkeys(std::span<const HotkeyEntry, kHotkeyCount>(settings_.Hotkeys));
}

int TfrmMain::HotkeyOfKeyPress(uint8_t keycode, uint16_t modifierState) const
{
    if (!hotkeys_)
        return -1;
    xcb_key_press_event_t event{};
    event.response_type = XCB_KEY_PRESS;
    event.root = hotkeys_->root;  // the grabber takes only presses of its own grabs
    event.detail = keycode;
    event.state = modifierState;
    return hotkeys_->grabber.Match(&event);
}
