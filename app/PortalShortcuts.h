// The program's global shortcuts through the desktop portal's GlobalShortcuts
// interface, for Wayland desktops where X11 key grabs see only the keys pressed while
// an X11 window has the focus.
//
// Each Bind opens a portal session of its own (the portal binds a session's shortcuts
// once) with the shortcut entries that name a key, their stored keys as the preferred
// triggers; the desktop may keep other keys, or ask the user first. The answers come
// later, on the Qt event loop: Bound when the portal took the shortcuts, Failed when
// it refused them (the caller falls back to X11 grabs), Activated for each press.
#pragma once

#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <span>

#include "settings/RecorderSettings.h"

class PortalShortcuts : public QObject {
    Q_OBJECT
public:
    explicit PortalShortcuts(QObject* parent = nullptr);
    ~PortalShortcuts() override;  // closes the session

    // Whether the session bus's desktop portal offers global shortcuts.
    static bool Offered();

    // Binds the entries that name a key, ids 0 to 5 (an entry with the same key as a
    // lower id is left out), in place of what an earlier Bind bound.
    void Bind(std::span<const HotkeyEntry, kHotkeyCount> hotkeys);
    // Closes the session: no shortcut acts until the next Bind.
    void Release();

signals:
    void Activated(int id);
    // `triggers` lists each bound shortcut with the keys the desktop gave it.
    void Bound(const QString& triggers);
    void Failed(const QString& why);

private slots:
    void OnSessionCreated(uint code, const QVariantMap& results);
    void OnShortcutsBound(uint code, const QVariantMap& results);
    void OnActivated(const QDBusMessage& message);

private:
    // Makes a portal call that answers with a Request's Response signal, delivered
    // to `slot`; false (after Failed) when the call itself failed.
    bool Request(const QString& method, QList<QVariant> arguments, QVariantMap options, const char* slot);
    void StopWaiting();

    QVariant shortcuts_;      // the a(sa{sv}) of the current Bind
    QString waitingPath_;     // the Request whose Response is awaited, empty for none
    const char* waitingSlot_ = nullptr;
    QString session_;         // the portal session, empty for none
    unsigned serial_ = 0;
};
