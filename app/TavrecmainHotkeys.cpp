// The six global shortcuts of the Hotkeys array, grabbed on the root window over the
// application's own X connection, so that their key presses reach AppMessage. On a
// Wayland desktop whose portal offers global shortcuts, the portal binds them instead
// and its activations reach AppMessage the same way.
#include <QAbstractNativeEventFilter>
#include <QGuiApplication>

#include <cstdio>

#include "app/HotkeyGrabber.h"
#include "app/PortalShortcuts.h"
#include "app/Tavrecmain.h"

// The grabs, and a watch that makes them again when the keyboard mapping changes
// (keycodes and modifier bits may have moved).
class ShortcutGrabs : public QAbstractNativeEventFilter {
public:
    ShortcutGrabs(xcb_connection_t* connection, xcb_window_t root) : grabber(connection, root)
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
};

void TfrmMain::ShortcutGrabsDeleter::operator()(ShortcutGrabs* grabs) const
{
    delete grabs;
}

void TfrmMain::UnregisterHotkeys()
{
    if (portalShortcuts_)
        portalShortcuts_->Release();
    if (hotkeys_)
        hotkeys_->grabber.UnregisterHotkeys();
}

void TfrmMain::RegisterHotkeys()
{
    if (!UsePortalShortcuts()) {
        GrabX11Hotkeys();
        return;
    }
    if (!portalShortcuts_) {
        portalShortcuts_ = new PortalShortcuts(this);
        connect(portalShortcuts_, &PortalShortcuts::Activated, this,
                [this](int id) { AppMessage(PostedMessage{msg::WM_HOTKEY, id, 0}); });
        connect(portalShortcuts_, &PortalShortcuts::Bound, this, [](const QString& triggers) {
            std::fprintf(stderr, "tavrec: global shortcuts bound through the desktop portal: %s\n",
                         triggers.toUtf8().constData());
        });
        // Refused: the X11 grabs, which work while an X11 window has the focus.
        connect(portalShortcuts_, &PortalShortcuts::Failed, this, [this](const QString& why) {
            std::fprintf(stderr, "tavrec: the desktop portal's global shortcuts failed (%s). %s\n",
                         why.toUtf8().constData(), PortalDesktopNote().toUtf8().constData());
            portalShortcutsFailed_ = true;
            GrabX11Hotkeys();
        });
    }
    portalShortcuts_->Bind(std::span<const HotkeyEntry, kHotkeyCount>(settings_.Hotkeys));
}

void TfrmMain::GrabX11Hotkeys()
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

int TfrmMain::HotkeyOfKeyPress(const xcb_key_press_event_t* event) const
{
    // The event is matched as it came: a grab's press carries the root it was made on.
    return hotkeys_ ? hotkeys_->grabber.Match(event) : -1;
}
