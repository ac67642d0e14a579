// SIGTERM, SIGINT and SIGHUP turned into a Qt signal on the event loop, so that they
// close the program through its normal close path (the main window's close, which
// saves the settings) instead of ending it on the spot. The handler only writes the
// signal number into a pipe; a QSocketNotifier reads it on the user-interface thread.
// The previous handlers are put back when the object goes.
#pragma once

#include <QObject>

#include <signal.h>

class QSocketNotifier;

class ExitSignals : public QObject {
    Q_OBJECT
public:
    explicit ExitSignals(QObject* parent = nullptr);
    ~ExitSignals() override;

signals:
    // One of the three signals arrived (once per delivery).
    void Received(int signalNumber);

private:
    static void Handler(int signalNumber);
    void ReadPipe();

    static constexpr int kSignals[3] = {SIGTERM, SIGINT, SIGHUP};
    int pipe_[2] = {-1, -1};
    QSocketNotifier* notifier_ = nullptr;
    struct sigaction previous_[3] = {};
};
