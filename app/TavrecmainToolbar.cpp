// The toolbar of the main window: eleven buttons in one row, 30 pixels high, plain
// buttons 32 wide, drop-down buttons 45 (32 plus the arrow), the separator 5.
#include <QMenu>
#include <QToolBar>
#include <QToolButton>

#include "app/Artwork.h"
#include "app/Tavrecmain.h"
#include "app/ToolbarSeparator.h"
#include "app/ToolbarStyle.h"
#include "app/ToolbarVisibility.h"

namespace {

constexpr int kButtonHeight = 30;
constexpr int kPlainWidth = 32;
constexpr int kDropDownWidth = 45;
constexpr int kSeparatorWidth = 5;
constexpr int kToolbarHeight = 31;

}  // namespace

QToolButton* TfrmMain::NewToolButton(const char* name, int picture, const char* hint, QMenu* dropDown)
{
    auto* button = new QToolButton(tlbMain);
    button->setObjectName(QLatin1String(name));
    button->setIcon(artwork::ToolbarIcon(picture));
    button->setIconSize(QSize(24, 24));
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    button->setAutoRaise(true);
    button->setToolTip(QLatin1String(hint));
    button->setFocusPolicy(Qt::NoFocus);
    if (dropDown) {
        button->setMenu(dropDown);
        button->setPopupMode(QToolButton::MenuButtonPopup);
        button->setFixedSize(kDropDownWidth, kButtonHeight);
    } else {
        button->setFixedSize(kPlainWidth, kButtonHeight);
    }
    connect(button, &QToolButton::clicked, this, [this, button] { ToolButtonClick(button); });
    return button;
}

void TfrmMain::BuildToolbar()
{
    toolbarStyle_ = std::make_unique<ToolbarStyle>();
    tlbMain = new QToolBar(this);
    tlbMain->setObjectName(QStringLiteral("tlbMain"));
    tlbMain->setStyle(toolbarStyle_.get());
    tlbMain->setMovable(false);
    tlbMain->setFloatable(false);
    tlbMain->setOrientation(Qt::Horizontal);
    tlbMain->setIconSize(QSize(24, 24));
    tlbMain->setContentsMargins(0, 0, 0, 0);
    tlbMain->move(0, 0);
    tlbMain->setFixedHeight(kToolbarHeight);

    btnStartRecord = NewToolButton("btnStartRecord", 0, "Record", nullptr);
    btnStopRecord = NewToolButton("btnStopRecord", 1, "Stop", nullptr);
    btnPauseRecord = NewToolButton("btnPauseRecord", 3, "Pause", nullptr);
    btnPlayRecord = NewToolButton("btnPlayRecord", 2, "Play", nullptr);
    btnSep0 = new ToolbarSeparator(kSeparatorWidth, kButtonHeight, tlbMain);
    btnSep0->setObjectName(QStringLiteral("btnSep0"));
    btnEncodeWizard = NewToolButton("btnEncodeWizard", 10, "Launch Encoding Wizard", nullptr);
    btnConfigure = NewToolButton("btnConfigure", 4, "Preference", pmeuConfigure);
    btnChangeTools = NewToolButton("btnChangeTools", 5, "Free Pen", pmeuFreePen);
    btnChangeSize = NewToolButton("btnChangeSize", 6, "Free Eraser", pmeuFreeEraser);
    btnClearAll = NewToolButton("btnClearAll", 9, "Clear All Drawing", nullptr);
    btnSwitchMode = NewToolButton("btnSwitchMode", 8, "Enter Draw Mode", nullptr);
    btnSwitchMode->setCheckable(true);

    for (QWidget* button : {static_cast<QWidget*>(btnStartRecord), static_cast<QWidget*>(btnStopRecord),
                            static_cast<QWidget*>(btnPauseRecord), static_cast<QWidget*>(btnPlayRecord), btnSep0,
                            static_cast<QWidget*>(btnEncodeWizard), static_cast<QWidget*>(btnConfigure),
                            static_cast<QWidget*>(btnChangeTools), static_cast<QWidget*>(btnChangeSize),
                            static_cast<QWidget*>(btnClearAll), static_cast<QWidget*>(btnSwitchMode)})
        tlbMain->addWidget(button);
    toolbarVisibility_ = new ToolbarVisibility(tlbMain);
    for (QAction* action : tlbMain->actions())
        toolbarVisibility_->Track(tlbMain->widgetForAction(action));

    btnStopRecord->setEnabled(false);
    btnPauseRecord->setEnabled(false);
    btnSwitchMode->setEnabled(false);
    SetButtonVisible(btnClearAll, false);
    SetButtonVisible(btnSwitchMode, false);
}
