// The main window TfrmMain: the small always-on-top tool window of the recorder,
// nothing but a toolbar of icon buttons, two of them with drop-down menus.
//
// Its members are defined by subsystem:
//   Tavrecmain.cpp              construction, show, size, close and destruction
//   TavrecmainMenus.cpp         run-time menus and MenuItemClick
//   TavrecmainToolButtons.cpp   ToolButtonClick and the toolbar actions
//   TavrecmainMessages.cpp      AppMessage: posted messages and shortcut presses
#pragma once

#include <QHash>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <mutex>

#include "app/MenuItem.h"
#include "settings/RecorderSettings.h"

class AppMessageFilter;
class QMenu;
class QToolBar;
class QToolButton;
class ToolbarStyle;

// The main window's recording state.
enum RecorderState : int32_t { rsRecording = 0, rsIdle = 1, rsPaused = 2, rsPicking = 3 };

class TfrmMain : public QWidget {
    Q_OBJECT
public:
    // Builds the window hidden and loads the settings; throws SettingsError when the
    // settings cannot be loaded.
    explicit TfrmMain(QWidget* owner = nullptr);
    // Runs FormDestroy; an error of saving is shown in the error box.
    ~TfrmMain() override;

    // --- window (Tavrecmain.cpp)
    void FormShow();
    // Client width := the widths of the visible toolbar buttons, separator included.
    void FitWindowToToolbar();
    // After a message box: puts the window on top again, unless it is in the tray.
    void ReassertTopmost();
    // Saves the settings (only when loading completed, and only once), then drops
    // DrawLock.
    void FormDestroy();
    // Shows or hides a toolbar button (buttons in a toolbar are shown through it).
    void ShowToolButton(QToolButton* button, bool shown);
    bool IsToolButtonShown(QToolButton* button) const;
    // The window has been closed (by the user, a signal or the session's end).
    bool CloseRequested() const { return closeRequested_; }
    const RecorderSettings& Settings() const { return Settings_; }
    RecorderState State() const { return RecorderState_; }

    // --- run-time menus (TavrecmainMenus.cpp)
    // A new item belonging to no menu yet; its click goes to MenuItemClick.
    MenuItem* NewMenuItem(const QString& caption, MenuItemKind kind, int32_t tag, int groupIndex, bool checked);
    // Appends the item to the menu (which then owns it); a radio item joins the
    // menu's exclusive group of its group index.
    void AddMenuItem(QMenu* menu, MenuItem* item);
    // Appends a plain item with a submenu of its own and returns the submenu.
    QMenu* AddSubmenu(QMenu* menu, const QString& caption);
    void BuildConfigureMenu();
    void MenuItemClick(MenuItem* item);

    // --- toolbar (TavrecmainToolButtons.cpp)
    // The click of every toolbar button, told apart by control name. Shortcuts,
    // timers and error notifications call it directly: it runs whether or not the
    // button is enabled.
    void ToolButtonClick(QToolButton* sender);

    // --- messages (TavrecmainMessages.cpp)
    // A TAVREC_MESSAGE ClientMessage; true when handled (Qt does not see it then).
    bool AppMessage(uint32_t message, int32_t wParam, int32_t lParam);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Tavrecmain.cpp
    void BuildToolbar();
    QToolButton* AddToolButton(const char* name, int picture, const char* hint, QMenu* dropDown);

    // TavrecmainMenus.cpp
    static void EmptyMenu(QMenu* menu);
    // The RecorderSettings flag a check item's tag designates, null for none.
    bool* FlagOfTag(int32_t tag);
    void BuildToolMenus();
    void PenColorItemClick(MenuItem* item);
    void PenSizeItemClick(MenuItem* item);
    void EraserSizeItemClick(MenuItem* item);
    void ClearDrawItemClick();
    void ReturnCursorModeItemClick();

    // TavrecmainToolButtons.cpp
    void UpdateCaption();
    void ConfigureClick();
    void StartRecordClick();
    void ResumeRecordClick();
    void PauseRecordClick();
    void StopRecordClick();
    void PlayRecordClick();
    void DrawingCommandClick(QToolButton* sender);
    void EncodeWizardClick();

    // TavrecmainMessages.cpp
    bool KeyPress(uint8_t keycode, uint16_t state);
    // A global shortcut was pressed (its HotkeyId); dropped before the first show.
    void HotkeyMessage(int32_t hotkeyId);
    void CaptureErrorReceived();
    void HookMessage(uint32_t message, int32_t wParam, int32_t lParam);

    RecorderState RecorderState_ = rsIdle;
    RecorderSettings Settings_;
    MainWindowValues WindowValues_;
    bool settingsLoaded_ = false;
    bool shownOnce_ = false;
    bool closeRequested_ = false;
    bool ClickGuard = false;
    // Guards the drawing overlay between this thread and the capture library's video
    // thread.
    std::unique_ptr<std::mutex> DrawLock;
    std::unique_ptr<AppMessageFilter> appMessage_;

    QToolBar* tlbMain = nullptr;
    ToolbarStyle* toolbarStyle_ = nullptr;
    QHash<QToolButton*, QAction*> toolbarActions_;
    QToolButton* btnStartRecord = nullptr;
    QToolButton* btnStopRecord = nullptr;
    QToolButton* btnPauseRecord = nullptr;
    QToolButton* btnPlayRecord = nullptr;
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

// The one main window of the program while it exists.
extern TfrmMain* frmMain;
