// The application object. Every event handler runs inside notify(), so an error
// that escapes one (a settings write refused, a failed start of a tool, ...) is
// caught here and shown in the standard error box; the event loop goes on.
#pragma once

#include <QApplication>

class TavrecApplication : public QApplication {
    Q_OBJECT
public:
    TavrecApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};
