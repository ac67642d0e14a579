// SIGTERM, SIGINT and SIGHUP turned into an ordinary close request on the
// user-interface thread: the handler only writes the signal number into a pipe
// (the one thing that is safe there), and a QSocketNotifier on the other end emits
// closeRequested() from the event loop. The owner then closes the main window, so a
// signal ends the program the same way the close box does: settings are saved.
// One object at a time; the previous signal actions come back when it goes.
#pragma once

#include <QObject>
#include <csignal>

class QSocketNotifier;

class ExitSignals : public QObject {
    Q_OBJECT
public:
    explicit ExitSignals(QObject* parent = nullptr);
    ~ExitSignals() override;

signals:
    void closeRequested(int signalNumber);

private:
    void readPipe();

    int pipe_[2] = {-1, -1};
    QSocketNotifier* notifier_ = nullptr;
    struct sigaction previous_[3] = {};
};
