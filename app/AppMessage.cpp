#include "app/AppMessage.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTimer>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <exception>

#include "app/ErrorBox.h"
#include "platform/XDisplay.h"

namespace {

xcb_connection_t* QtConnection() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

uint32_t InternAtom(xcb_connection_t* connection, const char* name) {
    xcb_intern_atom_cookie_t cookie = xcb_intern_atom(connection, 0, static_cast<uint16_t>(strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    if (!reply) return 0;
    const uint32_t atom = reply->atom;
    std::free(reply);
    return atom;
}

void ShowLater(const QString& text) {
    QTimer::singleShot(0, qApp, [text] { ShowErrorBox(text); });
}

}  // namespace

AppMessageFilter::AppMessageFilter(MessageHandler onMessage, KeyHandler onKeyPress)
    : onMessage_(std::move(onMessage)), onKeyPress_(std::move(onKeyPress)) {
    if (xcb_connection_t* connection = QtConnection()) atom_ = InternAtom(connection, platform::kMessageAtomName);
    QCoreApplication::instance()->installNativeEventFilter(this);
}

AppMessageFilter::~AppMessageFilter() {
    if (QCoreApplication::instance()) QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool AppMessageFilter::Guarded(const std::function<bool()>& call) {
    try {
        return call();
    } catch (const std::exception& error) {
        ShowLater(QString::fromUtf8(error.what()));
    } catch (...) {
        ShowLater(QStringLiteral("Unknown error"));
    }
    return true;
}

bool AppMessageFilter::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (atom_ == 0 || eventType != "xcb_generic_event_t") return false;
    auto* event = static_cast<xcb_generic_event_t*>(message);
    switch (event->response_type & 0x7f) {
    case XCB_CLIENT_MESSAGE: {
        auto* client = reinterpret_cast<xcb_client_message_event_t*>(event);
        if (client->type != atom_ || client->format != 32 || !onMessage_) return false;
        const uint32_t number = client->data.data32[0];
        const auto wParam = static_cast<int32_t>(client->data.data32[1]);
        const auto lParam = static_cast<int32_t>(client->data.data32[2]);
        return Guarded([&] { return onMessage_(number, wParam, lParam); });
    }
    case XCB_KEY_PRESS: {
        if (!onKeyPress_) return false;
        auto* key = reinterpret_cast<xcb_key_press_event_t*>(event);
        return Guarded([&] { return onKeyPress_(key->detail, key->state); });
    }
    default:
        return false;
    }
}
