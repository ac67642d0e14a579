#include "app/ExitSignals.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace {

constexpr int kSignals[3] = {SIGTERM, SIGINT, SIGHUP};
volatile sig_atomic_t writeEnd = -1;

void OnSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    if (writeEnd >= 0) {
        // Non-blocking: when the pipe is full a close request is pending anyway.
        [[maybe_unused]] ssize_t n = write(writeEnd, &byte, 1);
    }
    errno = savedErrno;
}

}  // namespace

ExitSignals::ExitSignals(QObject* parent) : QObject(parent)
{
    if (writeEnd >= 0)
        throw std::logic_error("ExitSignals is already installed");
    if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error(std::string("Cannot create the signal pipe: ") + std::strerror(errno));
    writeEnd = pipe_[1];

    notifier_ = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &ExitSignals::readPipe);

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i)
        sigaction(kSignals[i], &action, &previous_[i]);
}

ExitSignals::~ExitSignals()
{
    for (int i = 0; i < 3; ++i)
        sigaction(kSignals[i], &previous_[i], nullptr);
    writeEnd = -1;
    delete notifier_;
    close(pipe_[0]);
    close(pipe_[1]);
}

void ExitSignals::readPipe()
{
    unsigned char bytes[16];
    ssize_t n;
    int last = 0;
    while ((n = read(pipe_[0], bytes, sizeof bytes)) > 0)
        last = bytes[n - 1];
    if (last != 0)
        emit closeRequested(last);
}
