#include "app/Startup.h"

#include <QSessionManager>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

#include "app/ErrorBox.h"
#include "app/ExitSignals.h"
#include "app/SingleInstance.h"
#include "app/TavrecApplication.h"
#include "app/Tavrecmain.h"
#include "settings/Tavreclogo.h"

namespace {

// Qt ends the process with exit() when the X connection breaks (the display went
// away with the session). The window can no longer be closed then, but the
// settings can still be saved: FormDestroy runs from here and the program ends
// with 0, as after any other close.
TfrmMain* windowToSaveAtExit = nullptr;

void SaveWhenQtExits()
{
    TfrmMain* window = windowToSaveAtExit;
    if (!window)
        return;
    windowToSaveAtExit = nullptr;
    try {
        window->FormDestroy();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tavrec: %s\n", WithClosingPeriod(QString::fromLocal8Bit(error.what())).toLocal8Bit().constData());
    }
    std::fflush(nullptr);
    _exit(0);
}

void RunWindow(TavrecApplication& app, TfrmMain& window)
{
    SingleInstance instance;

    bool closing = false;
    ExitSignals exitSignals;
    const auto closeWindow = [&window, &closing] {
        closing = true;
        window.close();
    };
    QObject::connect(&exitSignals, &ExitSignals::closeRequested, &window, closeWindow);
    // The session ends: close as the user would, which saves the settings.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                     [closeWindow](QSessionManager&) { closeWindow(); });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &window, [&window] { window.FormDestroy(); });

    {
        auto* logo = new TfrmLOGO(&window);
        std::unique_ptr<TfrmLOGO> owned(logo);
        logo->exec();
    }
    // A signal during the splash ends the program before its window appears.
    if (closing)
        return;

    window.show();
    QApplication::exec();
}

}  // namespace

int RunTavrec(int argc, char** argv)
{
    // Shortcut grabs, window ids and the native message filter need X11; on a
    // Wayland desktop the program runs under XWayland.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");

    TavrecApplication app(argc, argv);
    // The window hides into the tray: the last window closing must not end the
    // program. Closing the main window quits explicitly.
    QApplication::setQuitOnLastWindowClosed(false);

    std::unique_ptr<TfrmMain> window;
    try {
        window = std::make_unique<TfrmMain>();
        windowToSaveAtExit = window.get();
        std::atexit(SaveWhenQtExits);
        RunWindow(app, *window);
        windowToSaveAtExit = nullptr;
        window->FormDestroy();
    } catch (const std::exception& error) {
        windowToSaveAtExit = nullptr;
        ShowErrorBox(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        windowToSaveAtExit = nullptr;
        ShowErrorBox(QStringLiteral("Unknown error"));
    }
    try {
        window.reset();
    } catch (...) {
    }
    return 0;
}
