// TfrmMain: construction, the toolbar, showing, sizing, closing and destruction.
#include "app/Tavrecmain.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QMenu>
#include <QShowEvent>
#include <QToolBar>
#include <QToolButton>
#include <QWindow>

#include <exception>

#include "app/AppMessage.h"
#include "app/Artwork.h"
#include "app/ErrorBox.h"
#include "app/ToolbarStyle.h"

TfrmMain* frmMain = nullptr;

namespace {

constexpr int kButtonWidth = 32;
constexpr int kDropDownButtonWidth = 45;  // the button plus its arrow
constexpr int kButtonHeight = 30;
constexpr int kToolbarHeight = 31;
constexpr int kPictureSize = 24;

QMenu* NewPopupMenu(const char* name, QWidget* owner) {
    auto* menu = new QMenu(owner);
    menu->setObjectName(QString::fromLatin1(name));
    menu->setSeparatorsCollapsible(false);
    return menu;
}

}  // namespace

TfrmMain::TfrmMain(QWidget* owner) : QWidget(owner) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Tavrec!"));
    // Single border without resizing, system menu with close, minimise, no
    // maximise, above all normal windows.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
    setFont(QFont(QStringLiteral("Sans Serif"), 8));

    RecorderState_ = rsIdle;
    // Every posted message and shortcut passes through AppMessage before dispatch.
    appMessage_ = std::make_unique<AppMessageFilter>(
        [this](uint32_t message, int32_t wParam, int32_t lParam) { return AppMessage(message, wParam, lParam); },
        [this](uint8_t keycode, uint16_t state) { return KeyPress(keycode, state); });

    LoadSettings(Settings_, WindowValues_);

    pmeuConfigure = NewPopupMenu("pmeuConfigure", this);
    pmeuFreePen = NewPopupMenu("pmeuFreePen", this);
    pmeuFreeEraser = NewPopupMenu("pmeuFreeEraser", this);
    pmeuDrawLine = NewPopupMenu("pmeuDrawLine", this);
    BuildToolbar();
    BuildToolMenus();
    BuildConfigureMenu();

    Settings_.Hotkeys[HotkeyStartRecord].Target = btnStartRecord;
    Settings_.Hotkeys[HotkeyPauseRecord].Target = btnPauseRecord;
    Settings_.Hotkeys[HotkeyStopRecord].Target = btnStopRecord;

    DrawLock = std::make_unique<std::mutex>();

    // Placed while hidden. The stored values are the frame's top-left, as pos()
    // reports it at exit. Before the first show Qt knows no frame and would take a
    // plain move() as the client area's position, so the window would creep by the
    // title bar at each start: the native window places its frame instead.
    move(WindowValues_.WindowLeft, WindowValues_.WindowTop);
    winId();
    windowHandle()->setFramePosition(QPoint(WindowValues_.WindowLeft, WindowValues_.WindowTop));
    settingsLoaded_ = true;
}

TfrmMain::~TfrmMain() {
    try {
        FormDestroy();
    } catch (const std::exception& error) {
        ShowErrorBox(QString::fromUtf8(error.what()));
    }
    if (frmMain == this) frmMain = nullptr;
}

QToolButton* TfrmMain::AddToolButton(const char* name, int picture, const char* hint, QMenu* dropDown) {
    auto* button = new QToolButton(tlbMain);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setIconSize(QSize(kPictureSize, kPictureSize));
    button->setIcon(artwork::ToolbarIcon(picture));
    button->setToolTip(QString::fromLatin1(hint));
    if (dropDown) {
        button->setMenu(dropDown);
        button->setPopupMode(QToolButton::MenuButtonPopup);
    }
    button->setFixedSize(dropDown ? kDropDownButtonWidth : kButtonWidth, kButtonHeight);
    connect(button, &QToolButton::clicked, this, [this, button] { ToolButtonClick(button); });
    toolbarActions_.insert(button, tlbMain->addWidget(button));
    return button;
}

void TfrmMain::BuildToolbar() {
    tlbMain = new QToolBar(this);
    tlbMain->setObjectName(QStringLiteral("tlbMain"));
    tlbMain->setMovable(false);
    tlbMain->setFloatable(false);
    tlbMain->setOrientation(Qt::Horizontal);
    tlbMain->setIconSize(QSize(kPictureSize, kPictureSize));
    tlbMain->setContentsMargins(0, 0, 0, 0);
    tlbMain->setFixedHeight(kToolbarHeight);
    // Created after the toolbar, so as a child of the window it is deleted after the
    // toolbar and its buttons, which use it to the end.
    toolbarStyle_ = new ToolbarStyle;
    toolbarStyle_->setParent(this);
    tlbMain->setStyle(toolbarStyle_);

    btnStartRecord = AddToolButton("btnStartRecord", 0, "Record", nullptr);
    btnStopRecord = AddToolButton("btnStopRecord", 1, "Stop", nullptr);
    btnPauseRecord = AddToolButton("btnPauseRecord", 3, "Pause", nullptr);
    btnPlayRecord = AddToolButton("btnPlayRecord", 2, "Play", nullptr);
    QAction* separator = tlbMain->addSeparator();
    if (QWidget* sep = tlbMain->widgetForAction(separator)) {
        sep->setObjectName(QStringLiteral("btnSep0"));
        sep->setFixedWidth(ToolbarStyle::kSeparatorWidth);
    }
    btnEncodeWizard = AddToolButton("btnEncodeWizard", 10, "Launch Encoding Wizard", nullptr);
    btnConfigure = AddToolButton("btnConfigure", 4, "Preference", pmeuConfigure);
    btnChangeTools = AddToolButton("btnChangeTools", 5, "Free Pen", pmeuFreePen);
    btnChangeSize = AddToolButton("btnChangeSize", 6, "Free Eraser", pmeuFreeEraser);
    btnClearAll = AddToolButton("btnClearAll", 9, "Clear All Drawing", nullptr);
    btnSwitchMode = AddToolButton("btnSwitchMode", 8, "Enter Draw Mode", nullptr);
    btnSwitchMode->setCheckable(true);  // stays down while draw mode is on

    btnStopRecord->setEnabled(false);
    btnPauseRecord->setEnabled(false);
    btnSwitchMode->setEnabled(false);
    ShowToolButton(btnClearAll, false);
    ShowToolButton(btnSwitchMode, false);
    tlbMain->move(0, 0);
}

void TfrmMain::ShowToolButton(QToolButton* button, bool shown) {
    if (QAction* action = toolbarActions_.value(button)) action->setVisible(shown);
}

bool TfrmMain::IsToolButtonShown(QToolButton* button) const {
    QAction* action = toolbarActions_.value(button);
    return action && action->isVisible();
}

void TfrmMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Only the first show: a restore from the tray during a recording must not hide
    // the drawing buttons again.
    if (!shownOnce_) {
        shownOnce_ = true;
        FormShow();
    }
}

void TfrmMain::FormShow() {
    tlbMain->move(0, 0);
    if (!tlbMain->actions().isEmpty()) setFixedHeight(tlbMain->height());
    ShowToolButton(btnChangeTools, false);
    ShowToolButton(btnChangeSize, false);
    FitWindowToToolbar();
}

void TfrmMain::FitWindowToToolbar() {
    int width = 0;
    for (QAction* action : tlbMain->actions()) {
        if (!action->isVisible()) continue;
        if (QWidget* widget = tlbMain->widgetForAction(action)) width += widget->minimumWidth();
    }
    // The toolbar exactly as wide as its buttons leaves no room for an overflow
    // extension; the window exactly as wide as the toolbar.
    tlbMain->setFixedWidth(width);
    setFixedSize(width, tlbMain->height());
}

void TfrmMain::ReassertTopmost() {
    // A window hidden in the tray stays there.
    if (!isVisible()) return;
    raise();
}

void TfrmMain::FormDestroy() {
    // The lock goes last, whether or not saving succeeds.
    struct DropLock {
        std::unique_ptr<std::mutex>& lock;
        ~DropLock() { lock.reset(); }
    } dropLock{DrawLock};
    // A store that could not be loaded is never written over.
    if (!settingsLoaded_) return;
    settingsLoaded_ = false;  // saved once, however often this runs
    if (RecorderState_ != rsIdle) ToolButtonClick(btnStopRecord);
    WindowValues_.WindowLeft = pos().x();
    WindowValues_.WindowTop = pos().y();
    SaveSettings(Settings_, WindowValues_);
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    event->accept();
    closeRequested_ = true;
    // Closing the main window ends the program; other windows closing do not.
    QCoreApplication::exit(0);
}
