// ToolButtonClick: the click handler of every toolbar button, dispatching by the
// button's control name to the recording and drawing actions.
#include <QToolBar>
#include <QToolButton>

#include <functional>

#include "app/Tavrecmain.h"

namespace {

// Holds ClickGuard for one run of ToolButtonClick. Whatever way the run ends, an
// action that throws included, the caption is brought up to date and the guard is
// released, so that the buttons never stay dead.
class ClickScope {
public:
    ClickScope(bool& guard, std::function<void()> finish) : guard_(guard), finish_(std::move(finish))
    {
        guard_ = true;
    }
    ~ClickScope()
    {
        finish_();
        guard_ = false;
    }
    ClickScope(const ClickScope&) = delete;
    ClickScope& operator=(const ClickScope&) = delete;

private:
    bool& guard_;
    std::function<void()> finish_;
};

}  // namespace

void TfrmMain::ToolButtonClick(QObject* sender)
{
    // Re-entry from a nested loop (a message box, the preferences dialog, a window
    // pick): dropped, without even the caption update.
    if (ClickGuard)
        return;
    ClickScope scope(ClickGuard, [this] { UpdateCaption(); });

    auto* button = qobject_cast<QToolButton*>(sender);
    if (!button || button->parentWidget() != tlbMain)
        return;

    const QString name = button->objectName();
    if (name == QLatin1String("btnConfigure")) {
        if (RecorderState_ == rsIdle)
            OpenPreferences();
    } else if (name == QLatin1String("btnStartRecord")) {
        if (RecorderState_ == rsIdle)
            StartAction(button);
        else if (RecorderState_ == rsPaused)
            ResumeAction(button);
    } else if (name == QLatin1String("btnPauseRecord")) {
        if (RecorderState_ != rsPaused)
            PauseAction(button);
    } else if (name == QLatin1String("btnStopRecord")) {
        StopAction(button);
    } else if (name == QLatin1String("btnPlayRecord")) {
        if (RecorderState_ == rsIdle)
            PlayAction();
    } else if (name == QLatin1String("btnSwitchMode") || name == QLatin1String("btnChangeTools") ||
               name == QLatin1String("btnClearAll") || name == QLatin1String("btnChangeSize")) {
        DrawingCommand(button);
    } else if (name == QLatin1String("btnEncodeWizard")) {
        EncodeWizardAction();
    }
}
