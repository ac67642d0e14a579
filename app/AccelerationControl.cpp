#include "app/AccelerationControl.h"

#include "settings/RecorderSettings.h"

// X11 has no display-driver acceleration level that a program could lower and
// restore: the X server and its drivers decide how they draw, and screen grabs
// through MIT-SHM read the finished picture either way. So the option is still
// tested here, and the start and stop actions still call this at their places, but
// there is nothing further to do on this platform.
void SetAccelerationLevel(const RecorderSettings& settings, int32_t level)
{
    if (!settings.DisableHWAcce)
        return;
    (void)level;
}
