// The thread of a hook: waits for events on the hook's X connection and hands each
// to the hook, under the hook's mutex, which the program's thread also takes when it
// changes the hook. Stopped and joined by the destructor. It ends by itself when the
// X connection breaks; X errors are reported and never end it.
#pragma once

#include <xcb/xcb.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

#include "tavrechcore/WakeSignal.h"

namespace hookcore {

class XConnection;

class EventThread {
public:
    using Handler = std::function<void(const xcb_generic_event_t&)>;

    // The handler runs on the thread with the mutex held.
    EventThread(XConnection& x, std::mutex& mutex, Handler handler);
    ~EventThread();
    EventThread(const EventThread&) = delete;
    EventThread& operator=(const EventThread&) = delete;

    bool Running() const { return thread_.joinable(); }
    // Makes the thread look at its connection again: after another thread has read
    // replies on it, events may wait in the connection's queue with nothing to read.
    void Wake() { wake_.Notify(); }

private:
    void Run();
    void HandleQueued();

    XConnection& x_;
    std::mutex& mutex_;
    Handler handler_;
    WakeSignal wake_;
    std::atomic<bool> stop_{false};
    std::thread thread_;  // last: started once everything above exists
};

}  // namespace hookcore
