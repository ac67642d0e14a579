#include "app/Startup.h"

#include <QSessionManager>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>

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

// Steps after the window is built: the splash, the window, the event loop. `closing`
// is set by a close request that arrives before the loop runs.
void RunWindow(TfrmMain& window, const bool& closing)
{
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &window, [&window] { window.FormDestroy(); });

    {
        std::unique_ptr<TfrmLOGO> logo = std::make_unique<TfrmLOGO>(&window);
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

    // From here on SIGTERM, SIGINT and SIGHUP close the program through its close
    // path, also while an error box or the splash is up.
    std::unique_ptr<TfrmMain> window;
    bool closing = false;
    ExitSignals exitSignals;
    const auto requestClose = [&window, &closing] {
        closing = true;
        if (window)
            window->close();
        // Also ends the loop of an error box or of the splash, which quit() would not
        // reach (it only ends the main loop once that runs).
        QCoreApplication::exit(0);
    };
    QObject::connect(&exitSignals, &ExitSignals::closeRequested, &app, requestClose);
    // The session ends: close as the user would, which saves the settings.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &app,
                     [requestClose](QSessionManager&) { requestClose(); });

    // Held until the process ends, after the settings are written: a next instance
    // started meanwhile must not load the values that are about to be replaced.
    std::optional<SingleInstance> instance;
    try {
        window = std::make_unique<TfrmMain>();
        windowToSaveAtExit = window.get();
        std::atexit(SaveWhenQtExits);
        try {
            instance.emplace();
        } catch (...) {
            windowToSaveAtExit = nullptr;
            window->SaveNothingAtExit();
            throw;
        }
        RunWindow(*window, closing);
        windowToSaveAtExit = nullptr;
        window->FormDestroy();
    } catch (const std::exception& error) {
        windowToSaveAtExit = nullptr;
        ShowErrorBox(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        windowToSaveAtExit = nullptr;
        ShowErrorBox(QStringLiteral("Unknown error"));
    }
    window.reset();  // runs FormDestroy if it has not run yet
    instance.reset();
    return 0;
}
