// The drawing tools: the buttons shown while recording, their menus and the hook
// component's messages.
#include <QCursor>
#include <QMenu>
#include <QTimer>
#include <QToolButton>

#include <xcb/xcb.h>

#include <cstdio>

#include "annotate/FreehandDrawing.h"
#include "annotate/ScreenDrawing.h"
#include "annotate/StrokeStep.h"
#include "app/DrawingScreen.h"
#include "app/Tavrecmain.h"
#include "tavrechcore/tavrechcore.h"

namespace {

// The pen colours and widths of one menu; each call makes entries of their own, so
// that check marks belong to one menu.
void AddPenSubmenus(TfrmMain& window, QMenu* menu, uint32_t penColor, int32_t penSize) {
    QMenu* colours = menu->addMenu(QStringLiteral("Pen Color"));
    colours->setSeparatorsCollapsible(false);
    struct Colour { const char* caption; int32_t tag; };
    for (Colour c : {Colour{"Red", 0x0000FF}, Colour{"Green", 0x00FF00}, Colour{"Blue", 0xFF0000},
                     Colour{"Black", 0x000000}, Colour{"White", 0xFFFFFF}})
        TfrmMain::AddMenuItem(colours, window.NewMenuItem(QString::fromLatin1(c.caption), MenuItemKind::Radio,
                                                          c.tag, 0, penColor == uint32_t(c.tag)));
    QMenu* sizes = menu->addMenu(QStringLiteral("Pen Size"));
    sizes->setSeparatorsCollapsible(false);
    for (int32_t size = 1; size <= 6; ++size)
        TfrmMain::AddMenuItem(sizes, window.NewMenuItem(QStringLiteral("%1p").arg(size), MenuItemKind::Radio, size,
                                                        0, penSize == size));
}

}  // namespace

annotate::ScreenDrawing* DrawingScreen() {
    static std::unique_ptr<annotate::ScreenDrawing> screen = annotate::ScreenDrawing::Create();
    return screen.get();
}

void RepaintWholeScreen() {
    annotate::ScreenDrawing* screen = DrawingScreen();
    if (!screen || !frmMain)
        return;
    const annotate::RepaintResult result = screen->RepaintWholeScreen();
    annotate::FreehandDrawing* drawing = &frmMain->Drawing();
    drawing->RequestRefresh();
    if (result.RefreshAgainAfter.count() > 0)
        QTimer::singleShot(result.RefreshAgainAfter, frmMain, [drawing] { drawing->RequestRefresh(); });
}

annotate::FreehandDrawing& TfrmMain::Drawing() { return *drawing_; }

std::mutex& TfrmMain::DrawLock() { return drawing_->DrawLock; }

bool TfrmMain::InDrawMode() const { return drawing_->DrawMode.load(); }

bool TfrmMain::CaptureRect(annotate::ScreenDrawing& screen, uint32_t window, RectL* rect) const {
    if (captureRegion_.Stored()) {
        *rect = RectL{captureRegion_.Left, captureRegion_.Top, captureRegion_.Left + captureRegion_.Width,
                      captureRegion_.Top + captureRegion_.Height};
        return true;
    }
    return screen.WindowRect(window, rect);
}

void TfrmMain::CreateDrawOverlay(uint32_t window) {
    CaptureWindow = window;
    annotate::ScreenDrawing* screen = DrawingScreen();
    RectL rect{};
    int bpp = 32;
    if (screen) {
        // A compositing manager may have started or ended since the last recording.
        screen->DetectPath();
        CaptureRect(*screen, window, &rect);
        bpp = screen->FrameBitsPerPixel();
    }
    Drawing().UseFastDraw.store(settings_.UseFastDraw);
    Drawing().CreateDrawOverlay(rect, bpp);
}

void TfrmMain::ReleaseDrawOverlay() {
    Drawing().ReleaseDrawOverlay();
    if (annotate::ScreenDrawing* screen = DrawingScreen())
        screen->EndDrawing();
    // The lines still on the screen go with the repaint.
    RepaintWholeScreen();
}

void TfrmMain::EnterDrawMode() {
    // Through the desktop portal nothing drawn on the X server's screen is recorded.
    if (Drawing().DrawMode.load() || !IsRecordingState(RecorderState_) || portalSource_)
        return;
    Drawing().DrawMode.store(true);
    SetDrawHook(1, static_cast<uint32_t>(winId()), 0, HM_MOVE, HM_PRESS, HM_EXTRA, HM_MENU,
                HM_RELEASE_ACK, HM_RELEASE, 1);
    // Where the lines go depends on the desktop; say which, as that decides whether
    // they can be seen at all. Said once the hook has the pen, so the line also tells
    // that a stroke from now on is taken.
    if (annotate::ScreenDrawing* screen = DrawingScreen())
        std::fprintf(stderr, "tavrec: %s\n", screen->PathText().c_str());
    if (btnSwitchMode && !btnSwitchMode->isChecked())
        btnSwitchMode->setChecked(true);
}

void TfrmMain::LeaveDrawMode() {
    if (!Drawing().DrawMode.load() || !IsRecordingState(RecorderState_))
        return;
    Drawing().DrawMode.store(false);
    if (btnSwitchMode) {
        btnSwitchMode->setChecked(false);
        btnSwitchMode->setEnabled(true);
    }
    SetDrawHook(0, static_cast<uint32_t>(winId()), 0, HM_MOVE, HM_PRESS, HM_EXTRA, HM_MENU,
                HM_RELEASE_ACK, HM_RELEASE, 0);
    ClearDrawing();
}

void TfrmMain::ClearDrawing() { Drawing().ClearDrawing(); }

OnFrameMethod TfrmMain::DrawingOnFrame() { return Drawing().OnFrame(); }

// Fills pmeuFreePen, pmeuFreeEraser and pmeuDrawLine.
void TfrmMain::BuildDrawMenus() {
    for (QMenu* menu : {pmeuFreePen, pmeuFreeEraser, pmeuDrawLine})
        menu->clear();
    const MainWindowValues& v = windowValues_;
    AddPenSubmenus(*this, pmeuFreePen, v.PenColor, v.PenSize);
    for (int32_t size : {50, 100, 150})
        AddMenuItem(pmeuFreeEraser,
                    NewMenuItem(QStringLiteral("%1p").arg(size), MenuItemKind::Radio, size, 0, v.EraserSize == size));
    AddPenSubmenus(*this, pmeuDrawLine, v.PenColor, v.PenSize);
    AddMenuItem(pmeuDrawLine, NewMenuItem(QStringLiteral("Clear Draw"), MenuItemKind::Plain, 0, 0, false));
    AddMenuItem(pmeuDrawLine, NewMenuItem(QStringLiteral("-"), MenuItemKind::Plain, 0, 0, false));
    AddMenuItem(pmeuDrawLine, NewMenuItem(QStringLiteral("Return Cursor Mode"), MenuItemKind::Plain, 0, 0, false));
    AddMenuItem(pmeuDrawLine, NewMenuItem(QStringLiteral("Close This Menu"), MenuItemKind::Plain, 0, 0, false));
}

// btnSwitchMode, btnChangeTools, btnClearAll, btnChangeSize.
void TfrmMain::DrawingCommand(QToolButton* sender) {
    if (!IsRecordingState(RecorderState_))
        return;
    if (sender == btnSwitchMode) {
        if (btnSwitchMode->isChecked()) {
            EnterDrawMode();
        } else {
            LeaveDrawMode();
            RepaintWholeScreen();
        }
    } else if (sender == btnChangeTools || sender == btnChangeSize) {
        const int tool = sender == btnChangeTools ? annotate::dtPen : annotate::dtEraser;
        Drawing().DrawTool.store(tool);
        SetDrawMode(tool);
        if (!btnSwitchMode->isChecked())
            EnterDrawMode();
    } else if (sender == btnClearAll) {
        ClearDrawing();
        RepaintWholeScreen();
    }
}

// Shortcuts 3 to 5: enter/quit draw mode, clear the drawing, paint the drawing back
// onto the screen (after something repainted over the lines).
void TfrmMain::DrawingHotkey(int hotkey) {
    if (hotkey == 3) {
        if (Drawing().DrawMode.load()) {
            LeaveDrawMode();
            RepaintWholeScreen();
        } else {
            EnterDrawMode();
        }
    } else if (hotkey == 4) {
        if (IsRecordingState(RecorderState_))
            ClearDrawing();
        RepaintWholeScreen();
    } else if (hotkey == 5) {
        annotate::ScreenDrawing* screen = DrawingScreen();
        RectL rect{};
        if (IsRecordingState(RecorderState_) && screen && CaptureRect(*screen, CaptureWindow, &rect))
            screen->RedrawDrawing(Drawing(), rect);
    }
}

// Tells the draw hook's window that the release has been seen.
static void PostReleaseAck(uint32_t target) {
    annotate::ScreenDrawing* screen = DrawingScreen();
    if (!screen || target == 0)
        return;
    annotate::XConnection& x = screen->Connection();
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = target;
    event.type = x.Atom("TAVREC_MESSAGE");
    event.data.data32[0] = HM_RELEASE_ACK;
    xcb_send_event(x.Get(), 0, target, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
    xcb_flush(x.Get());
}

// HM_MOVE ... HM_EXTRA from the hook component (the pick runs its own messages).
void TfrmMain::OnHookMessage(const PostedMessage& message) {
    if (RecorderState_ == rsPicking) {
        OnPickMessage(message);
        return;
    }
    const bool drawing = IsRecordingState(RecorderState_) && Drawing().DrawMode.load();
    annotate::ScreenDrawing* screen = DrawingScreen();
    switch (message.message) {
    case HM_PRESS:
        if (drawing) {
            PressWindow = uint32_t(message.wParam);
            // The point of the press as the hook saw it, packed (y << 16) | x. Where
            // the pointer is by the time this is handled may already be further along
            // the stroke when the program was busy.
            LastPointX = int16_t(message.lParam & 0xFFFF);
            LastPointY = int16_t((uint32_t(message.lParam) >> 16) & 0xFFFF);
        }
        break;
    case HM_MOVE:
        if (drawing && screen) {
            // The motion's own point, so that a stroke queued up while the program
            // was busy is drawn along the path the pointer took.
            const annotate::Point p{message.wParam, message.lParam};
            RectL rect{};
            CaptureRect(*screen, CaptureWindow, &rect);
            const annotate::StrokeSettings s{Drawing().DrawTool.load(), windowValues_.PenColor,
                                             windowValues_.PenSize, windowValues_.EraserSize};
            const auto again = annotate::StrokeStep(*screen, Drawing(), annotate::Point{LastPointX, LastPointY}, p,
                                                    rect, s);
            LastPointX = p.x;
            LastPointY = p.y;
            if (again.count() > 0) {
                annotate::FreehandDrawing* d = &Drawing();
                QTimer::singleShot(again, this, [d] { d->RequestRefresh(); });
            }
        }
        break;
    case HM_RELEASE:
        if (drawing && PressWindow != 0)
            PostReleaseAck(PressWindow);
        break;
    case HM_MENU:
        if (IsRecordingState(RecorderState_)) {
            LeaveDrawMode();
            pmeuDrawLine->popup(QPoint(message.wParam, message.lParam));
        }
        break;
    default:
        break;
    }
}

// "Red" ... "White": the pen colour.
void TfrmMain::PenColorMenuClick(MenuItem* item) {
    if (item->Kind() != MenuItemKind::Radio)
        return;
    item->setChecked(true);
    windowValues_.PenColor = uint32_t(item->Tag());
}

// "1p" ... "6p": the pen width.
void TfrmMain::PenSizeMenuClick(MenuItem* item) {
    if (item->Kind() != MenuItemKind::Radio)
        return;
    item->setChecked(true);
    windowValues_.PenSize = item->Tag();
}

// "50p", "100p", "150p": the eraser width.
void TfrmMain::EraserSizeMenuClick(MenuItem* item) {
    if (item->Kind() != MenuItemKind::Radio)
        return;
    item->setChecked(true);
    windowValues_.EraserSize = item->Tag();
}

// "Clear Draw".
void TfrmMain::ClearDrawMenuClick() {
    if (!IsRecordingState(RecorderState_))
        return;
    ClearDrawing();
    RepaintWholeScreen();
}

// "Return Cursor Mode".
void TfrmMain::ReturnCursorModeMenuClick() {
    LeaveDrawMode();
    RepaintWholeScreen();
}
