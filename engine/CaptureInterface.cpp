// The recording functions the program calls: set up, start, pause/resume, stop.
#include "engine/CallerEvents.h"
#include "engine/CaptureThreads.h"
#include "engine/ContextAccess.h"
#include "engine/LastError.h"
#include "engine/PendingStart.h"
#include "engine/RecordingLock.h"
#include "platform/sync/TickCount.h"

namespace {

using namespace korvid;

constexpr uint32_t kPollMs = 100;
// Both streams off: the program turns sound off when no device is chosen, so a first
// start with its defaults comes here.
constexpr const char* kNothingToRecordText =
    "Nothing to record: Capture Video and Capture Audio are both off, or no sound device is chosen "
    "(Preferences)";
// How long StopRecording waits for a recording to end by itself when its stop
// request could not be made; it never waits without limit for a request never made.
constexpr uint32_t kUnrequestedStopWaitMs = 5000;

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
    // Refused before the file is made: a recording of nothing would leave an empty file.
    if (!options->VideoEnabled && !options->AudioEnabled) {
        ReportCaptureError(0, kNothingToRecordText);
        return false;
    }
    // The control events are shared by name by every recording of this user: a second
    // recording is refused before anything of it, or of the running one, is touched.
    switch (RecordingLock::Acquire(nullptr)) {
    case RecordingLock::Outcome::Acquired:
        break;
    case RecordingLock::Outcome::Busy:
        ReportCaptureError(0, "Another recording is running");
        return false;
    case RecordingLock::Outcome::Failed:
        ReportCaptureError(0, "Can not create control object");
        return false;
    }
    PendingStart::Begin(context);
    const uint64_t reportsBefore = CaptureErrorCount();
    context->RunEvent = context->StopEvent = context->ReserveEvent = nullptr;
    context->RunEvent = platform::NamedEvent::CreateOrOpen("MM2_REC_RUN").release();
    context->StopEvent = platform::NamedEvent::CreateOrOpen("MM2_REC_STOP").release();
    context->ReserveEvent = platform::NamedEvent::CreateOrOpen("MM2_REC_RESERVE").release();
    bool ok = context->RunEvent && context->StopEvent && context->ReserveEvent;
    if (ok) {
        // No other recording exists now. Events that are still set were left so by one
        // that died while another process held them open (a stop request it never
        // saw, its run state): the new recording starts from reset events.
        RunEvent(context)->Reset();
        StopEvent(context)->Reset();
        ReserveEvent(context)->Reset();
    }
    // The caller's own hold on the events, for starting, pausing and stopping.
    const bool held = ok && CallerEvents::Hold();
    if (!ok || !held) {
        ReportCaptureError(0, "Can not create control object");
    } else if (auto thread = platform::Thread::Start(ControlThreadMain, context)) {
        platform::Thread* control = thread.release();
        context->ControlThread = control;
        context->ControlThreadId = control->Id();
        for (;;) {
            if (HasEnded(*control))
                break;  // the control thread has already closed the events
            if (LoadState(context) == StateRecording) {
                PendingStart::SetUpDone(context);
                return true;  // the recording keeps the lock until it is stopped
            }
            platform::SleepMs(kPollMs);
        }
        // The control thread has closed the file: a file this set-up made goes again.
        PendingStart::RemoveFile(context);
        if (CaptureErrorCount() == reportsBefore)
            ReportCaptureError(0, "The recording ended while it was being set up");
        CloseControlThread(context);
        CallerEvents::Release();
        RecordingLock::Release();
        StoreState(context, StateIdle);
        return false;
    } else {
        ReportCaptureError(0, "Can not create control thread");
    }
    if (held)
        CallerEvents::Release();
    CloseEvents(context);
    RecordingLock::Release();
    StoreState(context, StateIdle);
    return false;
}

// True only when the run event was set: a recording reported started captures.
KORVID_API bool StartRecording(CaptureContext* context)
{
    if (!context) {
        ReportCaptureError(0, "Start param error");
        return false;
    }
    const bool recording = LoadState(context) == StateRecording;
    const auto run = CallerEvents::Run();
    const bool set = run && run->Set();
    if (recording && set) {
        PendingStart::Started(context);
        return true;
    }
    if (!recording) {
        // Ended by itself after its set-up, its thread giving the reason when it had
        // one; its file is closed by now.
        if (!PendingStart::IsSetUp(context))
            ReportCaptureError(0, "No recording is set up to start");
        else if (!PendingStart::ReasonGiven(context))
            ReportCaptureError(0, "The recording ended before it started");
        PendingStart::RemoveFile(context);
    } else {
        // Still set up but never to run: the stop that follows takes its file away.
        ReportCaptureError(0, "Can not set the run event");
        PendingStart::Abandon(context);
    }
    return false;
}

KORVID_API bool PauseRecording(CaptureContext* context)
{
    if (!context)
        return false;
    const bool recording = LoadState(context) == StateRecording;
    const auto run = CallerEvents::Run();
    const int state = run ? run->State() : -1;
    if (state < 0)
        return false;
    if (!(state == 1 ? run->Reset() : run->Set()))
        return false;
    if (recording && state == 0)
        PendingStart::Started(context);  // the reset event is set: capture starts
    return recording;
}

// Stops a recording and reports how it went. A recording that already ended by
// itself (its failure posted and readable as the last error) is Idle: true.
KORVID_API bool StopRecording(CaptureContext* context)
{
    if (!context)
        return false;
    platform::Thread* control = ControlThreadOf(context);
    bool result = true;
    if (LoadState(context) == StateRecording) {
        const auto stop = CallerEvents::Stop();
        const auto run = CallerEvents::Run();
        const bool asked = stop && stop->Set();
        if (run)
            run->Set();  // paused threads wake up
        if (!asked && control && !control->Join(kUnrequestedStopWaitMs)) {
            // Still recording and it cannot be asked to stop: say so and keep the
            // control thread, so that a later call can stop it.
            ReportCaptureError(0, "Can not set the stop event");
            return false;
        }
        result = control && control->Join() && control->ExitCode() != 1;
    }
    PendingStart::Stopped(context);
    if (control) {
        // The recording is over: its events are given up and another may start.
        CloseControlThread(context);
        CallerEvents::Release();
        RecordingLock::Release();
    }
    return result;
}

KORVID_API bool _InitializeScreenCapture(CaptureContext* context) __attribute__((alias("InitializeScreenCapture")));
KORVID_API bool _StartRecording(CaptureContext* context) __attribute__((alias("StartRecording")));
KORVID_API bool _PauseRecording(CaptureContext* context) __attribute__((alias("PauseRecording")));
KORVID_API bool _StopRecording(CaptureContext* context) __attribute__((alias("StopRecording")));

}
