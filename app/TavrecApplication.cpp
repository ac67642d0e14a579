#include "app/TavrecApplication.h"

#include <exception>

#include "app/ErrorBox.h"

TavrecApplication::TavrecApplication(int& argc, char** argv) : QApplication(argc, argv) {
    // The name only: a display name would be appended to every window title.
    setApplicationName(QString::fromUtf8(kApplicationTitle));
}

bool TavrecApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowErrorBox(QString::fromUtf8(error.what()));
    } catch (...) {
        ShowErrorBox(QStringLiteral("Unknown error"));
    }
    return false;
}
