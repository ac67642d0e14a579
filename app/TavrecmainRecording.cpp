// The recording actions behind the toolbar buttons. Each is reached only through
// ToolButtonClick, which holds ClickGuard and updates the caption afterwards.
#include <QTimer>
#include <QToolButton>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "app/AccelerationControl.h"
#include "app/ExternalTools.h"
#include "app/OutputNaming.h"
#include "app/RecordingBoxes.h"
#include "app/Tavrecmain.h"

namespace {

QString LibraryError()
{
    int32_t capacity = 0;
    const char* text = GetMyLastError(&capacity);
    return QString::fromUtf8(text ? text : "");
}

template <size_t N>
void CopyText(char (&target)[N], const std::string& text)
{
    std::memset(target, 0, N);
    std::memcpy(target, text.data(), std::min(text.size(), N - 1));
}

}  // namespace

void TfrmMain::RemoveMadeFolder()
{
    if (!madeFolder_.empty())
        rmdir(madeFolder_.c_str());  // only an empty folder goes
    madeFolder_.clear();
}

bool TfrmMain::SettleOutputFile()
{
    madeFolder_.clear();
    std::string name = settings_.SavedFile;
    announceFile_ = name.empty();
    if (name.empty()) {
        // Nothing configured yet: the user's video folder, named to the user once the
        // recording is over.
        name = DefaultRecordingFile(&madeFolder_);
        if (name.empty()) {
            RecordingErrorBox(this, QStringLiteral("No folder to record to"));
            return false;
        }
    }
    if (PathExists(name)) {
        if (settings_.AutoAppendFilename) {
            name = NumberedName(name);
        } else {
            const bool overwrite = ConfirmBox(this, QStringLiteral("File is exists, overwrite?"));
            ReassertTopmost();
            if (!overwrite)
                return false;
            // The library creates with truncation, so the old file goes first; a
            // folder of that name is never removed.
            if (unlink(name.c_str()) != 0) {
                RecordingErrorBox(this, QStringLiteral("Cannot delete %1: %2")
                                            .arg(QString::fromStdString(name),
                                                 QString::fromUtf8(std::strerror(errno))));
                return false;
            }
        }
    }
    if (name.size() >= sizeof(settings_.CurrentFile)) {
        RemoveMadeFolder();
        RecordingErrorBox(this, QStringLiteral("File name too long: %1").arg(QString::fromStdString(name)));
        return false;
    }
    CopyText(settings_.CurrentFile, name);
    return true;
}

void TfrmMain::FillCaptureOptions()
{
    CaptureOptions& o = captureOptions_;
    CopyText(o.FileName, settings_.CurrentFile);
    CopyText(o.AudioDeviceName, settings_.DSSoundDevice);
    CopyText(o.AudioDeviceName2, settings_.DSSoundDevice2);
    std::memset(o.CodecName, 0, sizeof(o.CodecName));
    for (size_t i = 0; i + 1 < std::size(o.CodecName) && settings_.VCMDevice[i]; ++i)
        o.CodecName[i] = static_cast<uint16_t>(settings_.VCMDevice[i]);
    o.FramesPerSecond = static_cast<uint32_t>(settings_.FPS);
    o.NotifyWindow = static_cast<KorvidWindow>(winId());
    o.VideoEnabled = settings_.RecordVideo ? 1 : 0;
    o.AudioEnabled = settings_.RecordAudio && settings_.DSSoundDevice[0] != '\0' ? 1 : 0;
    o.AudioFormat = settings_.SampleRate;
    o.AllowDropFrame = settings_.AllowDropFrame ? 1 : 0;
    o.UseQuickMode = settings_.UseQuickMode ? 1 : 0;
    o.UseFastDraw = settings_.UseFastDraw ? 1 : 0;
    o.AddCCDImage = settings_.AddCCDImage ? 1 : 0;
    o.RegionLeft = captureRegion_.Left;
    o.RegionTop = captureRegion_.Top;
    o.RegionWidth = captureRegion_.Width;
    o.RegionHeight = captureRegion_.Height;

    captureContext_ = CaptureContext{};
    captureContext_.Options = &captureOptions_;
    captureContext_.OnFrame = DrawingOnFrame();
}

void TfrmMain::SetRecordingButtons(bool recording)
{
    btnStartRecord->setEnabled(!recording);
    btnPlayRecord->setEnabled(!recording);
    btnConfigure->setEnabled(!recording);
    btnStopRecord->setEnabled(recording);
    btnPauseRecord->setEnabled(recording);
    btnSwitchMode->setEnabled(recording);
    for (QToolButton* button : {btnSwitchMode, btnChangeTools, btnChangeSize, btnClearAll})
        SetButtonVisible(button, recording);
    if (portalSource_)
        DisableDrawingButtons();
    if (!tmrCheckDisk) {
        tmrCheckDisk = new QTimer(this);
        tmrCheckDisk->setObjectName(QStringLiteral("tmrCheckDisk"));
        tmrCheckDisk->setInterval(1000);
        connect(tmrCheckDisk, &QTimer::timeout, this, &TfrmMain::CheckDiskTick);
    }
    if (recording)
        tmrCheckDisk->start();
    else
        tmrCheckDisk->stop();
    FollowLibrary(recording);
    FitWindowToToolbar();
}

// btnStartRecord in rsIdle: pick the window, settle the file name, start the library.
void TfrmMain::StartAction(QToolButton*)
{
    const uint32_t window =
        portalSource_ ? ChooseScreenCast(settings_.CaptureSize) : PickCaptureWindow(settings_.CaptureSize);
    captureOptions_.CaptureWindow = static_cast<KorvidWindow>(window);
    if (window == 0) {
        PlainBox(this, QStringLiteral("Not have capture window."));
        return;
    }
    if (!SettleOutputFile())
        return;
    FillCaptureOptions();
    SetAccelerationLevel(settings_, 5);
    if (settings_.MinWhileRecording)
        MinimizeToTray();
    CreateDrawOverlay(window);
    // An error of an earlier failed start is not this recording's.
    EngineErrorPending = false;
    if (!InitializeScreenCapture(&captureContext_)) {
        StartFailed(false);
        return;
    }
    if (!StartRecording(&captureContext_)) {
        StartFailed(true);
        return;
    }
    KeepScreenCastToken();
    RecorderState_ = rsRecording;
    SetRecordingButtons(true);
    TrayAnimation(true);
}

void TfrmMain::StartFailed(bool setUp)
{
    // Read first: the stop below may store a text of its own.
    const QString reason = LibraryError();
    // The library has taken away the file it made for the start (one that existed
    // before stays); the stop ends what it still holds.
    if (setUp)
        StopRecording(&captureContext_);
    RemoveMadeFolder();
    RestoreFromTray();
    ReleaseDrawOverlay();
    SetAccelerationLevel(settings_, 0);
    RecordingErrorBox(this, reason);
    // A stream set-up that failed also posted its text, which arrives while the box
    // is open: it has just been shown, so it is not shown a second time.
    EngineErrorPending = false;
    announceFile_ = false;
}

// btnStartRecord in rsPaused.
void TfrmMain::ResumeAction(QToolButton*)
{
    if (!PauseRecording(&captureContext_))
        return;
    ShowRunning();
}

void TfrmMain::ShowRunning()
{
    RecorderState_ = rsRecording;
    btnStartRecord->setEnabled(false);
    btnPlayRecord->setEnabled(false);
    btnConfigure->setEnabled(false);
    btnStopRecord->setEnabled(true);
    btnPauseRecord->setEnabled(true);
    btnSwitchMode->setEnabled(!portalSource_);
    TrayAnimation(true);
}

// btnPauseRecord unless paused.
void TfrmMain::PauseAction(QToolButton*)
{
    if (!PauseRecording(&captureContext_))
        return;
    ShowPaused();
}

void TfrmMain::ShowPaused()
{
    RecorderState_ = rsPaused;
    btnPauseRecord->setEnabled(false);
    btnStartRecord->setEnabled(true);
    TrayAnimation(false);
}

// btnStopRecord in every state; also what a capture error and the exit run.
void TfrmMain::StopAction(QToolButton* sender)
{
    const bool recorded = IsRecordingState(RecorderState_);
    if (!StopRecording(&captureContext_))
        RecordingErrorBox(this, QStringLiteral("Stop abnormally"));
    if (EngineErrorPending) {
        RecordingErrorBox(this, LibraryError());
        EngineErrorPending = false;
    }
    LeaveDrawMode();
    RecorderState_ = rsIdle;
    SetRecordingButtons(false);
    sender->setEnabled(false);
    TrayAnimation(false);
    ReleaseDrawOverlay();
    if (settings_.MinWhileRecording)
        RestoreFromTray();
    SetAccelerationLevel(settings_, 0);
    if (recorded && announceFile_ && !destroyed_) {  // no box while the program ends
        announceFile_ = false;
        PlainBox(this, QStringLiteral("Recorded to %1").arg(QString::fromUtf8(settings_.CurrentFile)));
        ReassertTopmost();
    }
    if (settings_.ShowEncoder)
        LaunchEncodingWizard(QString::fromUtf8(settings_.CurrentFile));
}

// btnPlayRecord in rsIdle: the last recording in the media player.
void TfrmMain::PlayAction()
{
    OpenInMediaPlayer(QString::fromUtf8(settings_.CurrentFile));
}

void TfrmMain::EncodeWizardAction()
{
    LaunchEncodingWizard(QString::fromUtf8(settings_.CurrentFile));
}

// CaptureErrorMessage: the library stored an error text; the stop action shows it.
void TfrmMain::OnCaptureError()
{
    EngineErrorPending = true;
    if (ClickGuard) {
        // A box or dialog is open and the click would be dropped: try again once it
        // has closed, so that the window never says RECORDING after the library
        // stopped.
        QTimer::singleShot(250, this, [this] {
            if (EngineErrorPending)
                OnCaptureError();
        });
        return;
    }
    ToolButtonClick(btnStopRecord);
}
