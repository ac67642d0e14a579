// tmrCheckDisk: the free space of the disk being recorded to, once a second.
#include <QTimer>
#include <QToolButton>

#include "app/DiskSpace.h"
#include "app/RecordingBoxes.h"
#include "app/Tavrecmain.h"

void TfrmMain::CheckDiskTick()
{
    // A box or dialog of a click is open: its action decides first.
    if (ClickGuard)
        return;
    if (!IsDiskAlmostFull(FolderOfFile(settings_.CurrentFile)))
        return;
    tmrCheckDisk->stop();
    if (InDrawMode())
        LeaveDrawMode();
    ToolButtonClick(btnPauseRecord);
    const bool stop = ConfirmBox(this, QString::fromUtf8(kDiskFullQuestion));
    // The state may have moved while the box was open (a shortcut, a capture error).
    if (stop) {
        if (IsRecordingState(RecorderState_))
            ToolButtonClick(btnStopRecord);
    } else if (RecorderState_ == rsPaused) {
        ToolButtonClick(btnStartRecord);
    }
    ReassertTopmost();
}
