#include "app/PortalShortcuts.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QMetaType>

#include <string>

#include "app/PortalTrigger.h"
#include "settings/VirtualKeys.h"

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

// The portal's names of the six shortcuts, by id, and what the desktop shows for them.
constexpr const char* kIds[kHotkeyCount] = {"start-recording", "pause-recording", "stop-recording",
                                           "switch-drawing-mode", "clear-drawing", "redraw"};
constexpr const char* kDescriptions[kHotkeyCount] = {
    "Start or resume recording", "Pause recording", "Stop recording",
    "Switch between drawing and the desktop", "Clear the drawing", "Redraw the last drawing"};

struct Shortcut {
    QString Id;
    QVariantMap Properties;
};
using ShortcutList = QList<Shortcut>;

QDBusArgument& operator<<(QDBusArgument& argument, const Shortcut& shortcut)
{
    argument.beginStructure();
    argument << shortcut.Id << shortcut.Properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, Shortcut& shortcut)
{
    argument.beginStructure();
    argument >> shortcut.Id >> shortcut.Properties;
    argument.endStructure();
    return argument;
}

}  // namespace

Q_DECLARE_METATYPE(Shortcut)
Q_DECLARE_METATYPE(ShortcutList)

namespace {

void RegisterTypes()
{
    static const bool done = [] {
        qDBusRegisterMetaType<Shortcut>();
        qDBusRegisterMetaType<ShortcutList>();
        return true;
    }();
    (void)done;
}

// The portal's session handle: a string in some versions, an object path in others.
QString PathOf(const QVariant& value)
{
    if (value.metaType() == QMetaType::fromType<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    return value.toString();
}

}  // namespace

PortalShortcuts::PortalShortcuts(QObject* parent) : QObject(parent)
{
    RegisterTypes();
    // The whole message: its first two arguments are the session and the shortcut.
    QDBusConnection::sessionBus().connect(kService, kPath, kInterface, QStringLiteral("Activated"), this,
                                          SLOT(OnActivated(QDBusMessage)));
}

PortalShortcuts::~PortalShortcuts()
{
    Release();
}

bool PortalShortcuts::Offered()
{
    QDBusMessage get = QDBusMessage::createMethodCall(kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << kInterface << QStringLiteral("version");
    const QDBusMessage reply = QDBusConnection::sessionBus().call(get, QDBus::Block, 5000);
    return reply.type() == QDBusMessage::ReplyMessage;
}

void PortalShortcuts::Bind(std::span<const HotkeyEntry, kHotkeyCount> hotkeys)
{
    Release();
    ShortcutList list;
    for (int id = 0; id < kHotkeyCount; ++id) {
        const std::string trigger = PortalTrigger(hotkeys[id].Shortcut);
        if (trigger.empty())
            continue;
        bool duplicate = false;
        for (int lower = 0; lower < id; ++lower)
            duplicate = duplicate || PortalTrigger(hotkeys[lower].Shortcut) == trigger;
        if (duplicate)
            continue;
        list.append({QString::fromLatin1(kIds[id]),
                     {{QStringLiteral("description"), QString::fromLatin1(kDescriptions[id])},
                      {QStringLiteral("preferred_trigger"), QString::fromStdString(trigger)}}});
    }
    if (list.isEmpty())
        return;
    shortcuts_ = QVariant::fromValue(list);
    // Some back ends take the shortcuts only when the session is created, others only
    // from BindShortcuts: both are given them. The session's token is the same in every
    // run and every Bind: a back end that files the shortcuts of an unidentified program
    // under its session token (KDE's does) then finds this program's own entry again,
    // instead of a new one whose keys the entry of an ended session still holds.
    Request(QStringLiteral("CreateSession"), {},
            {{QStringLiteral("session_handle_token"), QStringLiteral("tavrec")}, {QStringLiteral("shortcuts"), shortcuts_}},
            SLOT(OnSessionCreated(uint, QVariantMap)));
}

void PortalShortcuts::Release()
{
    StopWaiting();
    if (session_.isEmpty())
        return;
    const QDBusMessage close = QDBusMessage::createMethodCall(kService, session_, QStringLiteral("org.freedesktop.portal.Session"),
                                                              QStringLiteral("Close"));
    QDBusConnection::sessionBus().call(close, QDBus::Block, 5000);
    session_.clear();
}

bool PortalShortcuts::Request(const QString& method, QList<QVariant> arguments, QVariantMap options, const char* slot)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString token = QStringLiteral("tavrec%1").arg(++serial_);
    // Subscribed before the call: the Response may come before the call's reply.
    waitingPath_ = kPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
    waitingSlot_ = slot;
    bus.connect(kService, waitingPath_, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"),
                this, slot);
    options.insert(QStringLiteral("handle_token"), token);
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    arguments.append(options);
    call.setArguments(arguments);
    const QDBusMessage reply = bus.call(call, QDBus::Block, 10000);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    StopWaiting();
    emit Failed(method + QStringLiteral(": ") + reply.errorMessage());
    return false;
}

void PortalShortcuts::StopWaiting()
{
    if (waitingPath_.isEmpty())
        return;
    QDBusConnection::sessionBus().disconnect(kService, waitingPath_, QStringLiteral("org.freedesktop.portal.Request"),
                                             QStringLiteral("Response"), this, waitingSlot_);
    waitingPath_.clear();
    waitingSlot_ = nullptr;
}

void PortalShortcuts::OnSessionCreated(uint code, const QVariantMap& results)
{
    StopWaiting();
    session_ = PathOf(results.value(QStringLiteral("session_handle")));
    if (code != 0 || session_.isEmpty()) {
        session_.clear();
        emit Failed(QStringLiteral("the portal refused a shortcut session (response %1)").arg(code));
        return;
    }
    Request(QStringLiteral("BindShortcuts"),
            {QVariant::fromValue(QDBusObjectPath(session_)), shortcuts_, QString()}, {},
            SLOT(OnShortcutsBound(uint, QVariantMap)));
}

void PortalShortcuts::OnShortcutsBound(uint code, const QVariantMap& results)
{
    StopWaiting();
    if (code != 0) {
        emit Failed(code == 1 ? QStringLiteral("the shortcuts were declined")
                              : QStringLiteral("the portal refused the shortcuts (response %1)").arg(code));
        Release();
        return;
    }
    QString triggers;
    const ShortcutList bound = qdbus_cast<ShortcutList>(results.value(QStringLiteral("shortcuts")));
    for (const Shortcut& shortcut : bound) {
        if (!triggers.isEmpty())
            triggers += QStringLiteral(", ");
        const QString keys = shortcut.Properties.value(QStringLiteral("trigger_description")).toString();
        triggers += shortcut.Id + QStringLiteral(" = ") + (keys.isEmpty() ? QStringLiteral("(none)") : keys);
    }
    emit Bound(triggers);
}

void PortalShortcuts::OnActivated(const QDBusMessage& message)
{
    const QList<QVariant> arguments = message.arguments();
    if (session_.isEmpty() || arguments.size() < 2 || PathOf(arguments[0]) != session_)
        return;
    const QString shortcut = arguments[1].toString();
    for (int id = 0; id < kHotkeyCount; ++id)
        if (shortcut == QLatin1String(kIds[id]))
            emit Activated(id);
}
