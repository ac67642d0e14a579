// btnConfigure in rsIdle: the preferences dialog, with the global shortcuts released
// while it is open (so the fields can take the keys they hold), then the shortcuts
// grabbed again from the edited record and the configuration menu rebuilt so that its
// marks show the edited flags.
#include <QWidget>

#include <exception>
#include <memory>

#include "app/ErrorBox.h"
#include "app/Tavrecmain.h"
#include "settings/Tavrecconfigure.h"

void TfrmMain::OpenPreferences()
{
    if (RecorderState_ != rsIdle)
        return;
    UnregisterHotkeys();

    std::unique_ptr<TfrmConfigure> dialog;
    QString failure;
    try {
        dialog = std::make_unique<TfrmConfigure>(this, codecAdmission_);
        for (const char* name : {"chkAddCCDImage", "cmbAddCCDImage"})
            if (auto* control = dialog->findChild<QWidget*>(QLatin1String(name)))
                control->hide();
        if (portalSource_)
            dialog->ShowDrawingShortcutsNote(DesktopNote());
        dialog->ShowFor(settings_);
    } catch (const std::exception& error) {
        failure = QString::fromLocal8Bit(error.what());
    } catch (...) {
        failure = QStringLiteral("The preferences dialog failed");
    }

    // Whatever closed the dialog, and even when it failed: the shortcuts work again
    // and the menu follows the record.
    RegisterHotkeys();
    BuildConfigureMenu();
    dialog.reset();
    if (!failure.isEmpty())
        ShowErrorBox(failure, this);
}
