// The recording functions the program calls: set up, start, pause/resume, stop.
#include "engine/CaptureThreads.h"
#include "engine/ContextAccess.h"
#include "engine/LastError.h"
#include "platform/sync/TickCount.h"

namespace {

using namespace korvid;

constexpr uint32_t kPollMs = 100;

void CloseControlThread(CaptureContext* context)
{
    delete ControlThreadOf(context);  // joins a thread that has ended
    context->ControlThread = nullptr;
}

void CloseEvents(CaptureContext* context)
{
    delete RunEvent(context);
    delete StopEvent(context);
    delete ReserveEvent(context);
    context->RunEvent = context->StopEvent = context->ReserveEvent = nullptr;
}

}  // namespace

extern "C" {

KORVID_API bool InitializeScreenCapture(CaptureContext* context)
{
    if (!context) {
        ReportCaptureError(0, "Initialize param error");
        return false;
    }
    // A frame rate outside 1..1000 would make the video thread divide by zero or
    // build frames faster than its millisecond clock can tell apart.
    const CaptureOptions* options = context->Options;
    if (!options || LoadState(context) != StateIdle ||
        (options->VideoEnabled && (options->FramesPerSecond < 1 || options->FramesPerSecond > 1000))) {
        ReportCaptureError(0, "Setting param error");
        return false;
    }
    context->RunEvent = context->StopEvent = context->ReserveEvent = nullptr;
    context->RunEvent = platform::NamedEvent::CreateOrOpen("MM2_REC_RUN").release();
    context->StopEvent = platform::NamedEvent::CreateOrOpen("MM2_REC_STOP").release();
    context->ReserveEvent = platform::NamedEvent::CreateOrOpen("MM2_REC_RESERVE").release();
    bool ok = context->RunEvent && context->StopEvent && context->ReserveEvent;
    if (!ok) {
        ReportCaptureError(0, "Can not create control object");
    } else if (auto thread = platform::Thread::Start(ControlThreadMain, context)) {
        platform::Thread* control = thread.release();
        context->ControlThread = control;
        context->ControlThreadId = control->Id();
        for (;;) {
            if (HasEnded(*control))
                break;  // the control thread has already closed the events
            if (LoadState(context) == StateRecording)
                return true;
            platform::SleepMs(kPollMs);
        }
        CloseControlThread(context);
        StoreState(context, StateIdle);
        return false;
    } else {
        ReportCaptureError(0, "Can not create control thread");
    }
    CloseEvents(context);
    StoreState(context, StateIdle);
    return false;
}

// The caller's side opens the control events by name instead of using the
// context's handles: the control thread closes those handles when a recording ends
// by itself, possibly while the caller is about to use them.
KORVID_API bool StartRecording(CaptureContext* context)
{
    if (!context)
        return false;
    const bool recording = LoadState(context) == StateRecording;
    if (auto run = platform::NamedEvent::OpenExisting("MM2_REC_RUN"))
        run->Set();
    return recording;
}

KORVID_API bool PauseRecording(CaptureContext* context)
{
    if (!context)
        return false;
    const bool recording = LoadState(context) == StateRecording;
    auto run = platform::NamedEvent::OpenExisting("MM2_REC_RUN");
    const int state = run ? run->State() : -1;
    if (state < 0)
        return false;
    if (state == 1)
        run->Reset();
    else
        run->Set();
    return recording;
}

KORVID_API bool StopRecording(CaptureContext* context)
{
    if (!context)
        return false;
    bool result = true;
    if (LoadState(context) == StateRecording) {
        if (auto stop = platform::NamedEvent::OpenExisting("MM2_REC_STOP"))
            stop->Set();
        if (auto run = platform::NamedEvent::OpenExisting("MM2_REC_RUN"))
            run->Set();  // paused threads wake up
        platform::Thread* control = ControlThreadOf(context);
        result = control && control->Join() && control->ExitCode() != 1;
    }
    CloseControlThread(context);
    return result;
}

KORVID_API bool _InitializeScreenCapture(CaptureContext* context) __attribute__((alias("InitializeScreenCapture")));
KORVID_API bool _StartRecording(CaptureContext* context) __attribute__((alias("StartRecording")));
KORVID_API bool _PauseRecording(CaptureContext* context) __attribute__((alias("PauseRecording")));
KORVID_API bool _StopRecording(CaptureContext* context) __attribute__((alias("StopRecording")));

}
