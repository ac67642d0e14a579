// TfrmMain: the click handler shared by all toolbar buttons and the window caption
// that follows the recording state.
#include <QToolButton>

#include "app/ClickGuard.h"
#include "app/ExternalTools.h"
#include "app/Tavrecmain.h"

void TfrmMain::ToolButtonClick(QToolButton* sender) {
    // A click arriving while one is being handled (from a message box, a dialog or a
    // window pick) is dropped, the caption update included.
    if (ClickGuard) return;
    const ClickGuardScope guard(ClickGuard);

    const QString name = sender ? sender->objectName() : QString();
    if (name == QLatin1String("btnConfigure")) {
        if (RecorderState_ == rsIdle) ConfigureClick();
    } else if (name == QLatin1String("btnStartRecord")) {
        if (RecorderState_ == rsIdle)
            StartRecordClick();
        else if (RecorderState_ == rsPaused)
            ResumeRecordClick();
    } else if (name == QLatin1String("btnPauseRecord")) {
        if (RecorderState_ != rsPaused) PauseRecordClick();
    } else if (name == QLatin1String("btnStopRecord")) {
        StopRecordClick();
    } else if (name == QLatin1String("btnPlayRecord")) {
        if (RecorderState_ == rsIdle) PlayRecordClick();
    } else if (name == QLatin1String("btnSwitchMode") || name == QLatin1String("btnChangeTools") ||
               name == QLatin1String("btnClearAll") || name == QLatin1String("btnChangeSize")) {
        DrawingCommandClick(sender);
    } else if (name == QLatin1String("btnEncodeWizard")) {
        EncodeWizardClick();
    }
    UpdateCaption();
}

void TfrmMain::UpdateCaption() {
    // The window's title is also its taskbar text.
    switch (RecorderState_) {
    case rsIdle: setWindowTitle(QStringLiteral("Tavrec!")); break;
    case rsRecording: setWindowTitle(QStringLiteral("Tavrec! [RECORDING]")); break;
    case rsPaused: setWindowTitle(QStringLiteral("Tavrec! [PAUSING]")); break;
    case rsPicking: break;
    }
}

void TfrmMain::EncodeWizardClick() { LaunchEncodingWizard(QString::fromUtf8(Settings_.CurrentFile)); }

// The recording actions and the preferences dialog, filled in with the recording
// control, the drawing tools and the preferences dialog.
void TfrmMain::ConfigureClick() {}
void TfrmMain::StartRecordClick() {}
void TfrmMain::ResumeRecordClick() {}
void TfrmMain::PauseRecordClick() {}
void TfrmMain::StopRecordClick() {}
void TfrmMain::PlayRecordClick() {}
void TfrmMain::DrawingCommandClick(QToolButton*) {}
