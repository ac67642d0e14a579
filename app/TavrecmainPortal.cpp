// Recording on a Wayland desktop, where the desktop portal's screen cast is the
// screen source: the portal's chooser takes the place of the window pick, its restore
// tokens are kept with the settings, and what X11 cannot do there (drawing on the
// screen; shortcuts outside X11 windows where the portal binds none) is said and
// left off.
#include <cstdio>
#include <cstring>

#include "annotate/ScreenDrawing.h"
#include "app/AppMessage.h"
#include "app/RecordingBoxes.h"
#include "app/DrawingScreen.h"
#include "app/PortalShortcuts.h"
#include "app/Tavrecmain.h"

#include <QToolButton>

namespace {

constexpr uint32_t kMonitor = 1;
constexpr uint32_t kWindow = 2;

// The token field of the settings that belongs to a kind of source.
char* TokenField(RecorderSettings& settings, uint32_t sourceType)
{
    return sourceType == kWindow ? settings.ScreenCastWindowToken : settings.ScreenCastToken;
}

}  // namespace

const QString& TfrmMain::PortalDesktopNote()
{
    static const QString note = QStringLiteral(
        "This Wayland desktop is recorded through its screen-cast portal. Drawing on the screen is off, "
        "and these shortcuts work only while an X11 window has the focus. To pause, resume or stop a "
        "recording from anywhere, bind \"tavrec-ctl pause\", \"tavrec-ctl resume\" and \"tavrec-ctl stop\" "
        "to keys in the desktop's own keyboard settings.");
    return note;
}

const QString& TfrmMain::PortalShortcutsNote()
{
    static const QString note = QStringLiteral(
        "This Wayland desktop is recorded through its screen-cast portal. Drawing on the screen is off. "
        "These shortcuts are given to the desktop's global-shortcuts portal, which may ask before taking "
        "them or give them other keys; its own keyboard settings show and change them.");
    return note;
}

const QString& TfrmMain::DesktopNote() const
{
    return UsePortalShortcuts() ? PortalShortcutsNote() : PortalDesktopNote();
}

void TfrmMain::DetectScreenSource()
{
    char reason[256] = {};
    portalSource_ = GetScreenSource(reason, static_cast<int32_t>(sizeof reason)) == 1;
    portalShortcutsOffered_ = portalSource_ && PortalShortcuts::Offered();
    if (portalSource_)
        std::fprintf(stderr, "tavrec: recording through the desktop portal (%s). %s\n", reason,
                     DesktopNote().toUtf8().constData());
}

uint32_t TfrmMain::ChooseScreenCast(int32_t mode)
{
    annotate::ScreenDrawing* screen = DrawingScreen();
    captureRegion_ = CaptureRegion{};
    if (!screen || mode < 1 || mode > 3)
        return 0;
    uint32_t type = kMonitor;
    if (mode == 3) {
        PlainBox(this, QStringLiteral("A region of the screen cannot be recorded through this desktop's "
                                      "screen-cast portal: the whole screen is recorded instead."));
        ReassertTopmost();
    }
    if (mode == 2) {
        if (GetScreenCastSourceTypes() & kWindow) {
            type = kWindow;
        } else {
            PlainBox(this, QStringLiteral("This desktop's screen-cast portal offers no windows to record: "
                                          "the whole screen is recorded instead."));
            ReassertTopmost();
        }
    }
    screenCastType_ = type;
    SetScreenCastRequest(type, TokenField(settings_, type));
    // The library records what the portal shares; the options record still names the
    // screen, which is what the X server knows.
    return screen->Connection().Root();
}

void TfrmMain::KeepScreenCastToken()
{
    if (!portalSource_)
        return;
    char token[kScreenCastTokenCapacity] = {};
    const int32_t length = GetScreenCastToken(token, static_cast<int32_t>(sizeof token));
    if (length <= 0 || static_cast<size_t>(length) >= sizeof token)
        return;  // none given, or one that does not fit the settings: asked again next time
    char* field = TokenField(settings_, screenCastType_);
    std::memcpy(field, token, static_cast<size_t>(length) + 1);
}

void TfrmMain::DisableDrawingButtons()
{
    static const QString why = QStringLiteral("Drawing on the screen is off on this Wayland desktop");
    for (QToolButton* button : {btnSwitchMode, btnChangeTools, btnChangeSize, btnClearAll}) {
        button->setEnabled(false);
        button->setToolTip(why);
    }
}
