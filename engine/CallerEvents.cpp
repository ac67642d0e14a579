#include "engine/CallerEvents.h"

#include <mutex>

namespace korvid {

namespace {

constexpr const char* kRunName = "MM2_REC_RUN";
constexpr const char* kStopName = "MM2_REC_STOP";

struct Held {
    std::mutex lock;
    int holds = 0;
    std::shared_ptr<platform::NamedEvent> run, stop;
};

Held& TheHeld()
{
    static Held held;
    return held;
}

std::shared_ptr<platform::NamedEvent> HeldOrOpened(std::shared_ptr<platform::NamedEvent> Held::*which,
                                                   const char* name)
{
    Held& held = TheHeld();
    {
        std::lock_guard<std::mutex> guard(held.lock);
        if (held.*which)
            return held.*which;
    }
    return platform::NamedEvent::OpenExisting(name);
}

}  // namespace

bool CallerEvents::Hold()
{
    Held& held = TheHeld();
    std::lock_guard<std::mutex> guard(held.lock);
    if (held.holds == 0) {
        std::shared_ptr<platform::NamedEvent> run = platform::NamedEvent::CreateOrOpen(kRunName);
        std::shared_ptr<platform::NamedEvent> stop = platform::NamedEvent::CreateOrOpen(kStopName);
        if (!run || !stop)
            return false;
        held.run = std::move(run);
        held.stop = std::move(stop);
    }
    ++held.holds;
    return true;
}

void CallerEvents::Release()
{
    Held& held = TheHeld();
    std::shared_ptr<platform::NamedEvent> run, stop;  // closed outside the lock
    std::lock_guard<std::mutex> guard(held.lock);
    if (held.holds == 0 || --held.holds > 0)
        return;
    run = std::move(held.run);
    stop = std::move(held.stop);
}

std::shared_ptr<platform::NamedEvent> CallerEvents::Run()
{
    return HeldOrOpened(&Held::run, kRunName);
}

std::shared_ptr<platform::NamedEvent> CallerEvents::Stop()
{
    return HeldOrOpened(&Held::stop, kStopName);
}

}  // namespace korvid
