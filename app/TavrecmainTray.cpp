// Minimising to the tray and restoring from it.
#include <QGuiApplication>

#include "app/ErrorBox.h"
#include "app/Tavrecmain.h"
#include "app/TrayIcon.h"

namespace {
bool TrayAnimationWanted(RecorderState state) { return state == rsRecording || state == rsPaused; }
}  // namespace

void TfrmMain::MinimizeToTray()
{
    QGuiApplication::setQuitOnLastWindowClosed(false);
    // Without a tray host the window would vanish with no way back: it minimises
    // normally instead.
    if (!TrayIcon::Available()) {
        showMinimized();
        return;
    }
    if (!triMin)
        triMin = new TrayIcon(this, [this] { RestoreFromTray(); }, [this] { TrayIconLost(); });
    if (triMin->Shown())
        return;
    triMin->SetAnimation(TrayAnimationWanted(RecorderState_));
    hide();
    triMin->Show();
}

void TfrmMain::RestoreFromTray()
{
    if (isMinimized())
        showNormal();
    if (!triMin || !triMin->Shown())
        return;
    triMin->SetAnimation(TrayAnimationWanted(RecorderState_));
    triMin->Hide();
    showNormal();
    raise();
    activateWindow();
}

void TfrmMain::TrayIconLost()
{
    // The icon is already hidden: the window comes back first, so that the user is
    // never left with neither, then the reason.
    showNormal();
    raise();
    activateWindow();
    ShowErrorBox(QStringLiteral("Cannot Create System Shell Notification Icon"), this);
}

void TfrmMain::TrayAnimation(bool on)
{
    if (triMin)
        triMin->SetAnimation(on);
}
