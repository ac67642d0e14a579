#include "tavrechcore/WakeSignal.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "tavrechcore/XErrorReport.h"

namespace hookcore {

WakeSignal::WakeSignal() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (fd_ < 0)
        ReportProblem(std::string("eventfd: ") + std::strerror(errno));
}

WakeSignal::~WakeSignal()
{
    if (fd_ >= 0)
        close(fd_);
}

void WakeSignal::Notify()
{
    const uint64_t one = 1;
    // Non-blocking: a full counter already means "wake up".
    [[maybe_unused]] const ssize_t n = write(fd_, &one, sizeof one);
}

void WakeSignal::Drain()
{
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = read(fd_, &count, sizeof count);
}

}  // namespace hookcore
