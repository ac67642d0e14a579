#include "app/TrayDocking.h"

#include <QGuiApplication>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdlib>

namespace {

// The name Qt's X11 tray icon gives its window (the xcb platform looks for it too).
constexpr const char* kTrayIconWindowName = "QSystemTrayIconSysWindow";

}  // namespace

TrayDocking CurrentTrayDocking()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11)
        return TrayDocking::NoWindow;
    for (QWindow* window : QGuiApplication::allWindows()) {
        if (window->objectName() != QLatin1String(kTrayIconWindowName))
            continue;
        if (!window->handle() || !window->isVisible())
            return TrayDocking::Undocked;
        xcb_connection_t* c = x11->connection();
        xcb_query_tree_reply_t* tree =
            xcb_query_tree_reply(c, xcb_query_tree(c, static_cast<xcb_window_t>(window->winId())), nullptr);
        const bool docked = tree && tree->parent != XCB_NONE && tree->parent != tree->root;
        std::free(tree);
        return docked ? TrayDocking::Docked : TrayDocking::Undocked;
    }
    return TrayDocking::NoWindow;
}
