// The control thread owns a recording from opening the file to closing it: it
// starts the capture threads one after the other, waits until one of them ends and
// then brings the other to its end before the file is completed.
#include <vector>

#include "engine/CaptureThreads.h"
#include "engine/ContextAccess.h"
#include "engine/LastError.h"
#include "engine/OptionText.h"
#include "engine/PendingStart.h"
#include "engine/PortalCapture.h"
#include "platform/sync/TickCount.h"

namespace korvid {

namespace {

constexpr uint32_t kPollMs = 100;

// Starts a capture thread and waits until it reports `ready` or ends. Returns the
// thread (null when it could not be created) and whether it became ready.
std::unique_ptr<platform::Thread> StartCaptureThread(CaptureContext* context, platform::Thread::Function fn,
                                                     uint32_t ready, bool* isReady)
{
    *isReady = false;
    auto thread = platform::Thread::Start(fn, context);
    if (!thread)
        return nullptr;
    for (;;) {
        if (LoadState(context) == ready) {
            *isReady = true;
            return thread;
        }
        if (HasEnded(*thread))
            return thread;
        platform::SleepMs(kPollMs);
    }
}

// Asks every started thread to finish and waits for all of them. True when each
// ended with 0.
bool StopCaptureThreads(CaptureContext* context, std::vector<std::unique_ptr<platform::Thread>>& threads)
{
    StopEvent(context)->Set();
    RunEvent(context)->Set();  // paused threads wake up and see the stop request
    bool allZero = true;
    for (auto& thread : threads) {
        if (!thread->Join())
            return false;
        allZero = allZero && thread->ExitCode() == 0;
    }
    return allZero;
}

enum class StartResult { AllReady, ThreadEnded, Failed };

// Starts the enabled capture threads in order, the video thread first so that its
// stream is the file's first. Stops at a thread that ends before it is ready.
StartResult StartCaptureThreads(CaptureContext* context, std::vector<std::unique_ptr<platform::Thread>>& started)
{
    const CaptureOptions* options = context->Options;
    if (options->VideoEnabled) {
        bool ready = false;
        auto video = StartCaptureThread(context, VideoThreadMain, StateVideoReady, &ready);
        if (!video) {
            ReportCaptureError(0, "Failed to create video capturing thread");
            return StartResult::Failed;
        }
        started.push_back(std::move(video));
        if (!ready)
            return StartResult::ThreadEnded;
    }
    if (options->AudioEnabled) {
        bool ready = false;
        auto audio = StartCaptureThread(context, AudioThreadMain, StateAudioReady, &ready);
        if (!audio) {
            ReportCaptureError(0, "Failed to create audio capturing thread");
            return StartResult::Failed;
        }
        started.push_back(std::move(audio));
        if (!ready)
            return StartResult::ThreadEnded;
    }
    return StartResult::AllReady;
}

}  // namespace

uint32_t ControlThreadMain(void* argument)
{
    auto* context = static_cast<CaptureContext*>(argument);
    uint32_t exitCode = 1;
    std::vector<std::unique_ptr<platform::Thread>> started;
    bool ownsFile = false;
    const std::string name(OptionText(context->Options->FileName));
    // Looked at just before the open, which replaces a file of that name.
    const bool existed = PendingStart::Exists(name);

    if (context->AviFile) {
        // Not a file this thread opened: it is left alone, not released.
        ReportCaptureError(0, "Failed to create video file, file might not be closed");
    } else if (!PrepareScreenSource(context)) {
        // The portal's screen cast did not start (reported): no file is made.
    } else if (auto file = platform::AviFile::Create(name)) {
        context->AviFile = file.release();
        ownsFile = true;
        // A start that fails takes away only a file that it made itself.
        if (!existed)
            PendingStart::FileCreated(context, name);
        const StartResult result = StartCaptureThreads(context, started);
        if (result == StartResult::AllReady)
            StoreState(context, StateRecording);
        if (result == StartResult::AllReady && started.empty()) {
            exitCode = 0;  // nothing enabled: nothing to record, nothing failed
        } else if (result == StartResult::Failed) {
            // A video thread that already runs is stopped and waited for before the
            // events are closed and the file is released.
            StopCaptureThreads(context, started);
        } else if (!started.empty()) {
            // Recording: wait until a thread ends (stop request, error or ReserveEvent),
            // then bring the others to their end.
            std::vector<platform::Thread*> threads;
            for (auto& thread : started)
                threads.push_back(thread.get());
            const bool waited = platform::Thread::WaitAny(threads.data(), threads.size()) >= 0;
            if (!waited)
                ReportWaitFailure(0, "Failed to wait for the capture threads");
            if (StopCaptureThreads(context, started) && waited)
                exitCode = 0;
        }
    } else {
        ReportCaptureError(0, "Failed to create video file");
    }

    // Every started thread has ended here: the handles, events and file can go.
    started.clear();
    DiscardPortalSource(context);
    delete RunEvent(context);
    delete StopEvent(context);
    delete ReserveEvent(context);
    context->RunEvent = context->StopEvent = context->ReserveEvent = nullptr;
    if (auto* file = ownsFile ? AviFileOf(context) : nullptr) {
        // The final index and headers are written here: a full disk shows now. A
        // capture thread's own failure text, when there was one, stays the one shown.
        if (!file->Close()) {
            if (exitCode == 0)
                ReportCaptureError(0, "Failed to close video file");
            exitCode = 1;
        }
        delete file;
        context->AviFile = nullptr;
    }
    StoreState(context, StateIdle);
    return exitCode;
}

}  // namespace korvid
