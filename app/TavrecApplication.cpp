#include "app/TavrecApplication.h"

#include <exception>

#include "app/ErrorBox.h"
#include "app/ProgramIcon.h"

TavrecApplication::TavrecApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    // The application title (the taskbar text of the original). Not the display
    // name: Qt would append that to every window title on X11.
    setApplicationName(QStringLiteral("Tavrec"));
    // Every window of the program (the main window, its dialogs and boxes) shows it.
    setWindowIcon(ProgramIcon());
}

bool TavrecApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowErrorBox(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        ShowErrorBox(QStringLiteral("Unknown error"));
    }
    return false;
}
