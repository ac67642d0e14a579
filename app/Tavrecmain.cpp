#include "app/Tavrecmain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenu>
#include <QToolBar>
#include <QToolButton>
#include <QWindow>

#include <algorithm>
#include <exception>

#include "annotate/FreehandDrawing.h"
#include "app/AppMessage.h"
#include "app/ErrorBox.h"
#include "app/MotifWmHints.h"
#include "app/ToolbarStyle.h"
#include "app/ToolbarVisibility.h"

TfrmMain* frmMain = nullptr;

TfrmMain::TfrmMain(QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Tavrec!"));
    setFont(QFont(QStringLiteral("Sans Serif"), 8));
    QPalette colours = palette();
    colours.setColor(QPalette::Window, QApplication::palette("QMenu").color(QPalette::Window));
    setPalette(colours);
    setAutoFillBackground(true);

    RecorderState_ = rsIdle;
    drawing_ = std::make_unique<annotate::FreehandDrawing>();
    // Installed before anything else so that no posted message passes unseen.
    appMessage_ = std::make_unique<AppMessageFilter>(*this);

    LoadSettings(settings_, windowValues_);
    DetectScreenSource();

    pmeuConfigure = new QMenu(this);
    pmeuConfigure->setObjectName(QStringLiteral("pmeuConfigure"));
    pmeuFreePen = new QMenu(this);
    pmeuFreePen->setObjectName(QStringLiteral("pmeuFreePen"));
    pmeuFreeEraser = new QMenu(this);
    pmeuFreeEraser->setObjectName(QStringLiteral("pmeuFreeEraser"));
    pmeuDrawLine = new QMenu(this);
    pmeuDrawLine->setObjectName(QStringLiteral("pmeuDrawLine"));
    for (QMenu* menu : {pmeuConfigure, pmeuFreePen, pmeuFreeEraser, pmeuDrawLine})
        menu->setSeparatorsCollapsible(false);

    BuildToolbar();
    BuildDrawMenus();
    BuildConfigureMenu();

    settings_.Hotkeys[HotkeyStartRecord].Target = btnStartRecord;
    settings_.Hotkeys[HotkeyPauseRecord].Target = btnPauseRecord;
    settings_.Hotkeys[HotkeyStopRecord].Target = btnStopRecord;
    UnregisterHotkeys();
    RegisterHotkeys();

    FitWindowToToolbar();
    // The stored values are the frame's position, which pos() gives back at exit.
    // A plain move() of a window that has never been framed places its client area
    // there (Qt cannot know the frame yet), so each start would creep by the title
    // bar's height: the native window is told the position includes the frame.
    move(windowValues_.WindowLeft, windowValues_.WindowTop);
    PlaceFrame();
    // A fixed-size tool window: system menu, minimise and close, no maximise.
    SetMotifWmHints(*this, motif::kFunctionMove | motif::kFunctionMinimize | motif::kFunctionClose,
                    motif::kDecorationBorder | motif::kDecorationTitle | motif::kDecorationMenu |
                        motif::kDecorationMinimize);
    settingsLoaded_ = true;
    frmMain = this;
}

TfrmMain::~TfrmMain()
{
    try {
        FormDestroy();
    } catch (const std::exception& error) {
        ShowErrorBox(QString::fromLocal8Bit(error.what()));
    }
    if (frmMain == this)
        frmMain = nullptr;
}

void TfrmMain::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Also sent on a restore from the tray: the buttons shown then must stay shown.
    if (!shownOnce_) {
        shownOnce_ = true;
        FormShow();
    }
}

void TfrmMain::FormShow()
{
    tlbMain->move(0, 0);
    SetButtonVisible(btnChangeTools, false);
    SetButtonVisible(btnChangeSize, false);
    FitWindowToToolbar();
    // Fitting set the client geometry; the window is not mapped yet, so it can still
    // be placed by its frame.
    PlaceFrame();
}

void TfrmMain::PlaceFrame()
{
    winId();
    if (QWindow* native = windowHandle())
        native->setFramePosition(QPoint(windowValues_.WindowLeft, windowValues_.WindowTop));
}

void TfrmMain::FitWindowToToolbar()
{
    int width = 0;
    for (QAction* action : tlbMain->actions()) {
        QWidget* button = tlbMain->widgetForAction(action);
        if (button && action->isVisible())
            width += button->width();
    }
    // A window is at least one pixel wide even with no button showing.
    width = std::max(width, 1);
    tlbMain->setFixedWidth(width);
    const int height = tlbMain->actions().isEmpty() ? this->height() : tlbMain->height();
    setFixedSize(width, height);
}

void TfrmMain::SetButtonVisible(QWidget* button, bool visible)
{
    toolbarVisibility_->SetVisible(button, visible);
}

void TfrmMain::ReassertTopmost()
{
    // A window minimised to the tray is hidden and must stay so.
    if (!isVisible())
        return;
    raise();
}

void TfrmMain::closeEvent(QCloseEvent* event)
{
    event->accept();
    // The application does not quit on its own when its last window closes (the
    // window hides into the tray): closing the main window is what ends it.
    QCoreApplication::exit(0);
}

void TfrmMain::FormDestroy()
{
    if (destroyed_)
        return;
    destroyed_ = true;
    if (settingsLoaded_ && saveAtExit_) {
        // A running recording is stopped first, as the stop button does.
        if (IsRecordingState(RecorderState_))
            ToolButtonClick(btnStopRecord);
        windowValues_.WindowLeft = pos().x();
        windowValues_.WindowTop = pos().y();
        SaveSettings(settings_, windowValues_);
    }
}

void TfrmMain::UpdateCaption()
{
    QString text;
    switch (RecorderState_) {
    case rsIdle: text = QStringLiteral("Tavrec!"); break;
    case rsRecording: text = QStringLiteral("Tavrec! [RECORDING]"); break;
    case rsPaused: text = QStringLiteral("Tavrec! [PAUSING]"); break;
    case rsPicking: return;
    }
    setWindowTitle(text);
    QCoreApplication::setApplicationName(text);
}
