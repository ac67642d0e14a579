// The window follows a recording that another holder of its control events drove,
// such as tavrec-ctl. The library pauses, resumes and ends by itself then; without
// this the window would go on saying RECORDING, and its pause button would resume a
// recording paused from outside.
#include <QTimer>
#include <QToolButton>

#include <atomic>

#include "app/Tavrecmain.h"
#include "platform/sync/NamedEvent.h"

void TfrmMain::FollowLibrary(bool on)
{
    if (!followTimer_) {
        followTimer_ = new QTimer(this);
        followTimer_->setInterval(500);
        connect(followTimer_, &QTimer::timeout, this, &TfrmMain::FollowLibraryTick);
    }
    libraryEndSeen_ = false;
    if (on)
        followTimer_->start();
    else
        followTimer_->stop();
}

void TfrmMain::FollowLibraryTick()
{
    // A box or dialog of a click is open, or a pick runs: its action decides first.
    if (ClickGuard || !IsRecordingState(RecorderState_))
        return;
    const uint32_t state = std::atomic_ref<uint32_t>(captureContext_.State).load(std::memory_order_acquire);
    if (state == StateIdle) {
        // The library ended the recording by itself. An ending by an error posted its
        // message before; one more tick lets that message run the stop with its text.
        if (!libraryEndSeen_) {
            libraryEndSeen_ = true;
            return;
        }
        ToolButtonClick(btnStopRecord);
        return;
    }
    libraryEndSeen_ = false;
    // Opened for the look only: a handle kept open would keep the event, and its
    // state, alive past the recording.
    const auto run = platform::NamedEvent::OpenExisting("MM2_REC_RUN");
    const auto stop = platform::NamedEvent::OpenExisting("MM2_REC_STOP");
    if (!run || !stop || stop->State() != 0)
        return;  // a stop is under way (it sets the run event too): the end follows
    const int running = run->State();
    if (running == 0 && RecorderState_ == rsRecording)
        ShowPaused();
    else if (running == 1 && RecorderState_ == rsPaused)
        ShowRunning();
    else
        return;
    UpdateCaption();
}
