#include "app/ExitSignals.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <stdexcept>

namespace {
// The write end for the handler; -1 while no ExitSignals is installed.
std::atomic<int> writeEnd{-1};
}  // namespace

ExitSignals::ExitSignals(QObject* parent) : QObject(parent) {
    if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("Cannot create the signal pipe");
    writeEnd.store(pipe_[1]);
    notifier_ = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &ExitSignals::ReadPipe);

    struct sigaction action = {};
    action.sa_handler = &ExitSignals::Handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &action, &previous_[i]);
}

ExitSignals::~ExitSignals() {
    for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &previous_[i], nullptr);
    writeEnd.store(-1);
    delete notifier_;
    close(pipe_[0]);
    close(pipe_[1]);
}

void ExitSignals::Handler(int signalNumber) {
    const int saved = errno;
    const int fd = writeEnd.load();
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signalNumber);
        // A full pipe already holds a pending close: losing this byte changes nothing.
        [[maybe_unused]] ssize_t written = write(fd, &byte, 1);
    }
    errno = saved;
}

void ExitSignals::ReadPipe() {
    unsigned char bytes[16];
    ssize_t n;
    while ((n = read(pipe_[0], bytes, sizeof bytes)) > 0)
        for (ssize_t i = 0; i < n; ++i) emit Received(bytes[i]);
}
