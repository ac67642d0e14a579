// The application object of tavrec: a QApplication whose event delivery shows every
// error that escapes an event handler in the standard error box and then goes on
// with the next event, instead of ending the program.
#pragma once

#include <QApplication>

// The application title: the standard error box's caption and the program's name.
inline constexpr char kApplicationTitle[] = "Tavrec";

class TavrecApplication : public QApplication {
    Q_OBJECT
public:
    TavrecApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};
