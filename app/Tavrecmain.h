// TfrmMain: the recorder's always-on-top tool window, a toolbar of eleven icon buttons
// and the pop-up menus of the drop-down buttons. It owns the settings record for the
// life of the program (loaded while it is constructed, saved while it is destroyed).
//
// Its members are defined by subsystem:
//   Tavrecmain.cpp           construction, show, fitting, close and destruction
//   TavrecmainToolbar.cpp    the toolbar and its buttons
//   TavrecmainMenus.cpp      run-time menu items, the configuration menu, MenuItemClick
//   TavrecmainToolButtons.cpp  ToolButtonClick, the window caption
//   TavrecmainMessages.cpp   AppMessage: capture errors, hook messages, shortcuts
//   TavrecmainRecording.cpp  the recording actions behind the buttons
//   TavrecmainPreferences.cpp  opening the preferences dialog
//   TavrecmainHotkeys.cpp    the global shortcuts
//   TavrecmainDrawing.cpp    the drawing tools and their menus
//   TavrecmainPortal.cpp     recording through the desktop portal (Wayland desktops)
#pragma once

#include <QWidget>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "app/MenuItem.h"
#include "app/WindowMessages.h"
#include "engine/korvid.h"
#include "settings/CodecAdmissionCache.h"
#include "settings/RecorderSettings.h"

class QMenu;
class QToolBar;
class QToolButton;
class AppMessageFilter;
class ToolbarStyle;
class ToolbarVisibility;
class ShortcutGrabs;
class QTimer;
struct xcb_key_press_event_t;
namespace annotate { class FreehandDrawing; class ScreenDrawing; }

enum RecorderState : int32_t { rsRecording = 0, rsIdle = 1, rsPaused = 2, rsPicking = 3 };

// A recording runs, capturing or paused.
inline bool IsRecordingState(RecorderState state) { return state == rsRecording || state == rsPaused; }

// Tags of the configuration menu's check items: the item's flag, as its bit in the
// "BoolSection" word.
enum FlagTag : int32_t {
    tagRecordAudio = 0x001,
    tagRecordVideo = 0x002,
    tagMinWhileRecording = 0x004,
    tagAllowDropFrame = 0x008,
    tagDisableHWAcce = 0x200,
};

class TfrmMain : public QWidget {
    Q_OBJECT
public:
    // Loads the settings (throws SettingsError when the store cannot be read) and
    // builds the window; it stays hidden, placed at the stored position.
    explicit TfrmMain(QWidget* owner = nullptr);
    ~TfrmMain() override;

    // --- window (Tavrecmain.cpp)
    void FitWindowToToolbar();
    // Puts the window back on top after a message box; a hidden window stays hidden.
    void ReassertTopmost();
    // Stops a running recording and saves the settings (only if they were loaded
    // completely). Runs once; the destructor runs it if nobody did before. DrawLock
    // goes with the window.
    void FormDestroy();
    // An instance that was refused the single-instance lock writes nothing at exit:
    // the running instance owns the settings file, and the values this one loaded at
    // its start would undo what that one saves meanwhile.
    void SaveNothingAtExit() { saveAtExit_ = false; }
    // Shows or hides a toolbar button (the separator included) at once.
    void SetButtonVisible(QWidget* button, bool visible);

    // --- menus (TavrecmainMenus.cpp)
    // A new item owned by the window and in no menu yet; it reports to MenuItemClick.
    MenuItem* NewMenuItem(const QString& caption, MenuItemKind kind, int32_t tag, int groupIndex,
                          bool checked);
    // Appends `item` to `menu`; a radio item joins the menu's exclusive group of its
    // group index.
    static void AddMenuItem(QMenu* menu, MenuItem* item);
    void BuildConfigureMenu();
    void MenuItemClick(MenuItem* item);

    // --- toolbar clicks (TavrecmainToolButtons.cpp)
    // The one click handler of all toolbar buttons; also what a shortcut, the disk
    // watch or a capture error "clicks". Not re-entrant: a call while one runs is
    // dropped.
    void ToolButtonClick(QObject* sender);

    // --- messages (TavrecmainMessages.cpp)
    // True when the message is consumed.
    bool AppMessage(const PostedMessage& message);

    // --- shortcuts (TavrecmainHotkeys.cpp)
    void UnregisterHotkeys();
    void RegisterHotkeys();
    // The hotkey index (0 to 5) a key press stands for, -1 for none.
    int HotkeyOfKeyPress(const xcb_key_press_event_t* event) const;

    // --- state, for the other parts of the program and for tests
    RecorderSettings& Settings() { return settings_; }
    MainWindowValues& WindowValues() { return windowValues_; }
    RecorderState State() const { return RecorderState_; }
    // The one lock of the drawing overlay: the UI thread's stroke steps and clears and
    // the video thread's OverlayFrame take it.
    std::mutex& DrawLock();
    bool WasShown() const { return shownOnce_; }
    QToolBar* Toolbar() const { return tlbMain; }

    // --- drawing (TavrecmainDrawing.cpp, TavrecmainPick.cpp)
    // The window to record: 1 the root window, 2 the one the user clicks on (0 when
    // cancelled or when the pick cannot start); 0 for any other mode.
    uint32_t PickCaptureWindow(int32_t mode);
    uint32_t PickCaptureRegion(annotate::ScreenDrawing& screen);
    void CreateDrawOverlay(uint32_t window);
    void ReleaseDrawOverlay();
    void EnterDrawMode();
    void LeaveDrawMode();
    void ClearDrawing();
    OnFrameMethod DrawingOnFrame();
    // Shortcuts 3 to 5: enter/quit draw mode, clear the drawing, paint the drawing
    // back onto the screen.
    void DrawingHotkey(int hotkey);
    annotate::FreehandDrawing& Drawing();
    bool InDrawMode() const;

    // --- the desktop portal (TavrecmainPortal.cpp)
    // Whether recordings go through the desktop portal's screen cast (a Wayland desktop).
    bool PortalSource() const { return portalSource_; }
    // What a Wayland desktop's user is told about drawing and the shortcuts.
    static const QString& PortalDesktopNote();
    // The same where the shortcuts are the desktop's own, through its portal.
    static const QString& PortalShortcutsNote();
    // The note that fits this desktop: the shortcuts through the portal or not.
    const QString& DesktopNote() const;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // --- window (Tavrecmain.cpp)
    void FormShow();
    // Places the window's frame (not its client area) at the stored position.
    void PlaceFrame();
    void UpdateCaption();

    // --- toolbar (TavrecmainToolbar.cpp)
    void BuildToolbar();
    QToolButton* NewToolButton(const char* name, int picture, const char* hint, QMenu* dropDown);

    // --- menus (TavrecmainMenus.cpp)
    bool* FlagOfTag(int32_t tag);

    // --- recording actions (TavrecmainRecording.cpp)
    void OpenPreferences();
    void StartAction(QToolButton* sender);
    // A start that the library refused: the user sees the library's reason and what
    // the start changed is undone. `setUp`: the library holds a recording to stop.
    void StartFailed(bool setUp);
    void ResumeAction(QToolButton* sender);
    void PauseAction(QToolButton* sender);
    void StopAction(QToolButton* sender);
    void PlayAction();
    void EncodeWizardAction();
    void OnCaptureError();

    // --- drawing (TavrecmainDrawing.cpp)
    void BuildDrawMenus();
    void DrawingCommand(QToolButton* sender);
    void OnHookMessage(const PostedMessage& message);
    void PenColorMenuClick(MenuItem* item);
    void PenSizeMenuClick(MenuItem* item);
    void EraserSizeMenuClick(MenuItem* item);
    void ClearDrawMenuClick();
    void ReturnCursorModeMenuClick();

    // --- recording control (TavrecmainRecording.cpp, TavrecmainHotkeys.cpp,
    // TavrecmainTray.cpp, TavrecmainTimers.cpp)
    void FillCaptureOptions();
    // Settles CurrentFile before a start; false when nothing is to be started.
    bool SettleOutputFile();
    // Removes the folder SettleOutputFile made, if it is still empty.
    void RemoveMadeFolder();
    void SetRecordingButtons(bool recording);
    void MinimizeToTray();
    void RestoreFromTray();
    // No tray host holds the icon: the window shows again, with the error box.
    void TrayIconLost();
    void TrayAnimation(bool on);
    void CheckDiskTick();
    // The window following a recording driven from outside (TavrecmainFollow.cpp).
    void FollowLibrary(bool on);
    void FollowLibraryTick();
    void ShowRunning();
    void ShowPaused();
    CaptureOptions captureOptions_{};
    CaptureContext captureContext_{};
    struct ShortcutGrabsDeleter {
        void operator()(ShortcutGrabs* grabs) const;  // TavrecmainHotkeys.cpp
    };
    std::unique_ptr<ShortcutGrabs, ShortcutGrabsDeleter> hotkeys_;
    // On a portal source whose portal offers global shortcuts, they take the place of
    // the X11 grabs, unless the portal refused them.
    class PortalShortcuts* portalShortcuts_ = nullptr;
    bool portalShortcutsOffered_ = false;
    bool portalShortcutsFailed_ = false;
    bool UsePortalShortcuts() const { return portalShortcutsOffered_ && !portalShortcutsFailed_; }
    void GrabX11Hotkeys();
    QTimer* tmrCheckDisk = nullptr;
    QTimer* followTimer_ = nullptr;
    bool libraryEndSeen_ = false;
    class TrayIcon* triMin = nullptr;
    // --- end recording control

    // Settings and the values persisted beside them.
    RecorderSettings settings_;
    MainWindowValues windowValues_;
    bool settingsLoaded_ = false;
    bool saveAtExit_ = true;
    bool destroyed_ = false;

    RecorderState RecorderState_ = rsIdle;
    bool EngineErrorPending = false;
    // The recording goes to the default file because none was configured: the stop
    // action says where it went.
    bool announceFile_ = false;
    // The folder the start made for the default file; a start that fails removes it
    // again when it is still empty.
    std::string madeFolder_;
    bool ClickGuard = false;
    bool shownOnce_ = false;

    // The compressors' answers for the preferences' codec list, kept for the life of
    // the program so that every opening after the first fills the list at once. Each
    // dialog is destroyed (and its codec worker joined) before OpenPreferences returns.
    settings::CodecAdmissionCache codecAdmission_;

    // --- drawing
    // The overlay, its flags and DrawLock; made with the window, gone with it.
    std::unique_ptr<annotate::FreehandDrawing> drawing_;
    uint32_t CaptureWindow = 0;
    // The rectangle of the screen being recorded when a region was chosen at the
    // start; not stored otherwise. The drawing overlay covers it instead of
    // CaptureWindow's rectangle.
    CaptureRegion captureRegion_;
    bool CaptureRect(annotate::ScreenDrawing& screen, uint32_t window, RectL* rect) const;
    uint32_t PressWindow = 0;
    int32_t LastPointX = 0, LastPointY = 0;
    uint32_t PickedWindow = 0;
    // The desktop portal (TavrecmainPortal.cpp).
    void DetectScreenSource();
    // In place of the pick: asks the portal for a monitor (mode 1) or a window (mode
    // 2, a monitor where it offers none, said so; a region, mode 3, is the monitor
    // too, said so); the root window, 0 for other modes.
    uint32_t ChooseScreenCast(int32_t mode);
    // Keeps the token the portal gave the recording just started, for the next one.
    void KeepScreenCastToken();
    void DisableDrawingButtons();
    bool portalSource_ = false;
    uint32_t screenCastType_ = 1;
    bool pickDone_ = false;
    class QEventLoop* pickLoop_ = nullptr;
    uint32_t highlighted_ = 0;
    void OnPickMessage(const PostedMessage& message);
    // --- end drawing
    std::unique_ptr<AppMessageFilter> appMessage_;
    std::unique_ptr<ToolbarStyle> toolbarStyle_;
    ToolbarVisibility* toolbarVisibility_ = nullptr;

    QToolBar* tlbMain = nullptr;
    QToolButton* btnStartRecord = nullptr;
    QToolButton* btnStopRecord = nullptr;
    QToolButton* btnPauseRecord = nullptr;
    QToolButton* btnPlayRecord = nullptr;
    QWidget* btnSep0 = nullptr;
    QToolButton* btnEncodeWizard = nullptr;
    QToolButton* btnConfigure = nullptr;
    QToolButton* btnChangeTools = nullptr;
    QToolButton* btnChangeSize = nullptr;
    QToolButton* btnClearAll = nullptr;
    QToolButton* btnSwitchMode = nullptr;

    QMenu* pmeuConfigure = nullptr;
    QMenu* pmeuFreePen = nullptr;
    QMenu* pmeuFreeEraser = nullptr;
    QMenu* pmeuDrawLine = nullptr;
};

// The one main window, set while it exists (null before it is built and after it is
// destroyed).
extern TfrmMain* frmMain;
