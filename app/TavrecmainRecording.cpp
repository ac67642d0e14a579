// The recording actions behind the toolbar buttons. Each is reached only through
// ToolButtonClick, which holds ClickGuard and updates the caption afterwards.
#include <QToolButton>

#include "app/ExternalTools.h"
#include "app/Tavrecmain.h"

// btnConfigure in rsIdle: the preferences dialog, then the configuration menu is
// rebuilt so that its marks show the edited flags.
void TfrmMain::OpenPreferences() {}

// btnStartRecord in rsIdle: pick the window, settle the file name, start the library.
void TfrmMain::StartAction(QToolButton*) {}

// btnStartRecord in rsPaused.
void TfrmMain::ResumeAction(QToolButton*) {}

// btnPauseRecord unless paused.
void TfrmMain::PauseAction(QToolButton*) {}

// btnStopRecord in every state; also what a capture error and the exit run.
void TfrmMain::StopAction(QToolButton*) {}

// btnPlayRecord in rsIdle: the last recording in the media player.
void TfrmMain::PlayAction() {}

void TfrmMain::EncodeWizardAction()
{
    LaunchEncodingWizard(QString::fromUtf8(settings_.CurrentFile));
}

// CaptureErrorMessage: the library stored an error text; the stop action shows it.
void TfrmMain::OnCaptureError()
{
    EngineErrorPending = true;
    ToolButtonClick(btnStopRecord);
}
