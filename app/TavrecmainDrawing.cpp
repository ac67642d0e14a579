// The drawing tools: the buttons shown while recording, their menus and the hook
// component's messages.
#include "app/Tavrecmain.h"

#include "annotate/FreehandDrawing.h"

// Fills pmeuFreePen, pmeuFreeEraser and pmeuDrawLine.
void TfrmMain::BuildDrawMenus() {}

// btnSwitchMode, btnChangeTools, btnClearAll, btnChangeSize.
void TfrmMain::DrawingCommand(QToolButton*) {}

// Shortcuts 3 to 5: enter/quit draw mode, clear the drawing, redraw.
void TfrmMain::DrawingHotkey(int) {}

// HM_MOVE ... HM_EXTRA from the hook component.
void TfrmMain::OnHookMessage(const PostedMessage&) {}

// "Red" ... "White": the pen colour.
void TfrmMain::PenColorMenuClick(MenuItem*) {}

// "1p" ... "6p": the pen width.
void TfrmMain::PenSizeMenuClick(MenuItem*) {}

// "50p", "100p", "150p": the eraser width.
void TfrmMain::EraserSizeMenuClick(MenuItem*) {}

// "Clear Draw".
void TfrmMain::ClearDrawMenuClick() {}

// "Return Cursor Mode".
void TfrmMain::ReturnCursorModeMenuClick() {}

annotate::FreehandDrawing& TfrmMain::Drawing() {
    if (!drawing_) drawing_ = std::make_shared<annotate::FreehandDrawing>();
    return *drawing_;
}
bool TfrmMain::InDrawMode() const { return drawing_ && drawing_->DrawMode.load(); }
void TfrmMain::CreateDrawOverlay(uint32_t) {}
void TfrmMain::ReleaseDrawOverlay() {}
void TfrmMain::EnterDrawMode() {}
void TfrmMain::LeaveDrawMode() {}
void TfrmMain::ClearDrawing() {}
OnFrameMethod TfrmMain::DrawingOnFrame() { return Drawing().OnFrame(); }
