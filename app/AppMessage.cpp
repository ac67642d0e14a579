#include "app/AppMessage.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

#include "app/Tavrecmain.h"
#include "app/WindowMessages.h"
#include "platform/x11/XDisplay.h"

namespace {

uint32_t InternMessageAtom()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return 0;
    const char* name = platform::kMessageAtomName;
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    if (!reply)
        return 0;
    const uint32_t atom = reply->atom;
    std::free(reply);
    return atom;
}

}  // namespace

AppMessageFilter::AppMessageFilter(TfrmMain& window) : window_(window), messageAtom_(InternMessageAtom())
{
    if (qApp)
        qApp->installNativeEventFilter(this);
}

AppMessageFilter::~AppMessageFilter()
{
    if (qApp)
        qApp->removeNativeEventFilter(this);
}

bool AppMessageFilter::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (messageAtom_ == 0 || eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    switch (event->response_type & 0x7f) {
    case XCB_CLIENT_MESSAGE: {
        const auto* client = reinterpret_cast<const xcb_client_message_event_t*>(event);
        if (client->type != messageAtom_ || client->format != 32)
            return false;
        PostedMessage posted;
        posted.message = client->data.data32[0];
        posted.wParam = static_cast<int32_t>(client->data.data32[1]);
        posted.lParam = static_cast<int32_t>(client->data.data32[2]);
        return window_.AppMessage(posted);
    }
    case XCB_KEY_PRESS: {
        const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(event);
        const int hotkey = window_.HotkeyOfKeyPress(key);
        if (hotkey < 0)
            return false;
        return window_.AppMessage(PostedMessage{msg::WM_HOTKEY, hotkey, 0});
    }
    default:
        return false;
    }
}
