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
    xcb_connection_t* c = x_.Get();
    for (;;) {
        xcb_generic_event_t* event = xcb_poll_for_event(c);
        if (!event) {
            // Flushing may read what has come in meanwhile into the queue, where
            // poll() on the socket would not see it: look there before sleeping.
            xcb_flush(c);
            event = xcb_poll_for_queued_event(c);
            if (!event)
                return;
        }
        if (event->response_type == 0)
            ReportXError("asynchronous request of the hook", *reinterpret_cast<xcb_generic_error_t*>(event));
        else
            handler_(*event);
        std::free(event);
    }
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
