#include "tavrechcore/EventThread.h"

#include <poll.h>

#include <cerrno>
#include <cstdlib>

#include "tavrechcore/XConnection.h"
#include "tavrechcore/XErrorReport.h"

namespace hookcore {

EventThread::EventThread(XConnection& x, std::mutex& mutex, Handler handler)
    : x_(x), mutex_(mutex), handler_(std::move(handler))
{
    if (wake_.Valid())
        thread_ = std::thread([this] { Run(); });
}

EventThread::~EventThread()
{
    if (!thread_.joinable())
        return;
    stop_ = true;
    wake_.Notify();
    thread_.join();
}

void EventThread::HandleQueued()
{
    while (xcb_generic_event_t* event = xcb_poll_for_event(x_.Get())) {
        if (event->response_type == 0)
            ReportXError("request of the hook", *reinterpret_cast<xcb_generic_error_t*>(event));
        else
            handler_(*event);
        std::free(event);
    }
    xcb_flush(x_.Get());
}

void EventThread::Run()
{
    pollfd fds[2] = {{x_.FileDescriptor(), POLLIN, 0}, {wake_.FileDescriptor(), POLLIN, 0}};
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stop_)
                return;
            HandleQueued();
            if (x_.Broken()) {
                ReportProblem("the hook's X connection is broken; the hook stops reporting");
                return;
            }
        }
        if (poll(fds, 2, -1) < 0 && errno != EINTR) {
            ReportProblem("poll on the hook's X connection failed");
            return;
        }
        if (fds[1].revents & POLLIN)
            wake_.Drain();
    }
}

}  // namespace hookcore
