// Typed access to the handles and the shared State word of a CaptureContext.
#pragma once

#include <atomic>

#include "engine/korvid.h"
#include "platform/avi/AviFile.h"
#include "platform/sync/NamedEvent.h"
#include "platform/sync/Thread.h"

namespace korvid {

// State is written by one worker thread while the others poll it: atomic access
// keeps those reads and writes well defined.
inline uint32_t LoadState(CaptureContext* context)
{
    return std::atomic_ref<uint32_t>(context->State).load(std::memory_order_acquire);
}

inline void StoreState(CaptureContext* context, uint32_t state)
{
    std::atomic_ref<uint32_t>(context->State).store(state, std::memory_order_release);
}

inline platform::NamedEvent* RunEvent(CaptureContext* context)
{
    return static_cast<platform::NamedEvent*>(context->RunEvent);
}

inline platform::NamedEvent* StopEvent(CaptureContext* context)
{
    return static_cast<platform::NamedEvent*>(context->StopEvent);
}

inline platform::NamedEvent* ReserveEvent(CaptureContext* context)
{
    return static_cast<platform::NamedEvent*>(context->ReserveEvent);
}

inline platform::AviFile* AviFileOf(CaptureContext* context)
{
    return static_cast<platform::AviFile*>(context->AviFile);
}

inline platform::Thread* ControlThreadOf(CaptureContext* context)
{
    return static_cast<platform::Thread*>(context->ControlThread);
}

// A thread's exit code is 0 or 1 once it has ended, kStillActive before.
inline bool HasEnded(const platform::Thread& thread)
{
    const uint32_t code = thread.ExitCode();
    return code == 0 || code == 1;
}

}  // namespace korvid
