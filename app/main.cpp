// tavrec: the recorder program. Builds the main window hidden, refuses to run a
// second time, shows the splash window, then the main window, and runs the event
// loop until the main window is closed. Every error that escapes start-up is shown
// in the standard error box; the exit code is 0 in every case.
#include <QApplication>
#include <QSessionManager>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <stdexcept>

#include "app/ErrorBox.h"
#include "app/ExitSignals.h"
#include "app/SingleInstance.h"
#include "app/Tavrecmain.h"
#include "app/TavrecApplication.h"
#include "settings/Tavreclogo.h"

namespace {

// Global shortcuts, window ids and the native event filter need X11; on Wayland
// desktops the program runs under XWayland.
void PreferX11() {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "xcb", 1);
}

// The close request of a signal or of the session: close the main window when there
// is one, else end the modal box that start-up may be showing.
void CloseProgram() {
    if (frmMain) {
        frmMain->close();
    } else if (QWidget* modal = QApplication::activeModalWidget()) {
        modal->close();
    }
}

// Qt ends the process with exit() when its X connection breaks (the session has
// gone). The main window cannot be closed any more then, but its settings are
// still saved as the normal close would save them, and the exit code stays 0.
void SaveOnLostConnection() {
    TfrmMain* window = frmMain;
    if (!window) return;
    frmMain = nullptr;
    try {
        window->FormDestroy();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tavrec: %s\n", error.what());
    }
    std::fflush(nullptr);
    _exit(0);
}

void Run(TavrecApplication& app, SingleInstance& instance) {
    auto window = std::make_unique<TfrmMain>();
    frmMain = window.get();
    QObject::connect(&app, &QGuiApplication::commitDataRequest, window.get(),
                     [](QSessionManager&) { CloseProgram(); });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, window.get(), [] { CloseProgram(); });

    if (!instance.Acquire()) throw std::runtime_error("Program is already running.");

    if (!window->CloseRequested()) {
        auto* splash = new TfrmLOGO(window.get());
        splash->exec();
        delete splash;
    }
    // A close requested during start-up (a signal) ends the program here.
    if (window->CloseRequested()) return;
    window->show();
    app.exec();
}

}  // namespace

int main(int argc, char** argv) {
    PreferX11();
    TavrecApplication app(argc, argv);
    // Later windows (the tray icon's) must not end the program; the main window's
    // close does it explicitly.
    app.setQuitOnLastWindowClosed(false);
    ExitSignals exitSignals;
    QObject::connect(&exitSignals, &ExitSignals::Received, &app, [](int) { CloseProgram(); });
    std::atexit(SaveOnLostConnection);

    // Held until the process ends, so it outlives the saving of the settings.
    SingleInstance instance;
    try {
        Run(app, instance);
    } catch (const std::exception& error) {
        ShowErrorBox(QString::fromUtf8(error.what()));
    } catch (...) {
        ShowErrorBox(QStringLiteral("Unknown error"));
    }
    return 0;
}
