#include "app/RegionSelector.h"

#include <algorithm>
#include <cstdlib>

#include <QEventLoop>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <chrono>
#include <thread>

namespace {

// A press and release closer than this are a click, not a drag.
constexpr int kDragThreshold = 3;

// Takes the pointer for the selector's window. False when another client holds it (an
// open menu, another program's grab): the selection cannot be made then, and waiting
// for input that never comes would hang the start. A window not mapped yet is tried
// again for a moment.
bool GrabPointer(uint32_t window)
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c)
        return false;
    const uint16_t events = XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE |
                            XCB_EVENT_MASK_POINTER_MOTION;
    for (int attempt = 0; attempt < 20; ++attempt) {
        xcb_grab_pointer_reply_t* reply = xcb_grab_pointer_reply(
            c, xcb_grab_pointer(c, 0, window, events, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC, XCB_NONE, XCB_NONE,
                                XCB_CURRENT_TIME),
            nullptr);
        const int status = reply ? reply->status : -1;
        std::free(reply);
        if (status == XCB_GRAB_STATUS_SUCCESS)
            return true;
        if (status != XCB_GRAB_STATUS_NOT_VIEWABLE && attempt >= 4)
            return false;  // held by another client, asked a few times over 50 ms
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

}  // namespace

bool RegionSelector::Select(const CaptureRegion& offered, CaptureRegion* chosen)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return false;
    // The whole X screen (every monitor of it), in root coordinates.
    const QRect geometry = screen->virtualGeometry();
    const QImage shot = screen->grabWindow(0, geometry.x(), geometry.y(), geometry.width(), geometry.height())
                            .toImage()
                            .convertToFormat(QImage::Format_RGB32);
    QRect offer;
    if (offered.Stored())
        offer = QRect(offered.Left, offered.Top, offered.Width, offered.Height).intersected(geometry);
    RegionSelector selector(shot, geometry, offer.translated(-geometry.topLeft()));
    QEventLoop loop;
    selector.loop_ = &loop;
    selector.show();
    selector.raise();
    selector.activateWindow();
    if (!GrabPointer(static_cast<uint32_t>(selector.winId()))) {
        selector.hide();
        return false;
    }
    selector.grabKeyboard();
    selector.grabMouse(Qt::CrossCursor);
    if (!selector.done_)
        loop.exec();
    selector.releaseMouse();
    selector.releaseKeyboard();
    selector.hide();
    if (selector.result_.isEmpty())
        return false;
    const QRect r = selector.result_.translated(geometry.topLeft());
    *chosen = CaptureRegion{r.x(), r.y(), r.width(), r.height()};
    return true;
}

RegionSelector::RegionSelector(const QImage& screen, const QRect& geometry, const QRect& offered)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::X11BypassWindowManagerHint),
      screen_(screen), offered_(offered)
{
    setObjectName(QStringLiteral("RegionSelector"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setCursor(Qt::CrossCursor);
    setFocusPolicy(Qt::StrongFocus);
    setGeometry(geometry);
    pointer_ = mapFromGlobal(QCursor::pos());
}

QRect RegionSelector::Dragged() const
{
    // Corners inclusive: dragging from (10, 10) to (19, 19) takes 10 x 10 pixels.
    const QPoint topLeft(std::min(anchor_.x(), pointer_.x()), std::min(anchor_.y(), pointer_.y()));
    const QPoint bottomRight(std::max(anchor_.x(), pointer_.x()), std::max(anchor_.y(), pointer_.y()));
    return QRect(topLeft, bottomRight).intersected(rect());
}

void RegionSelector::Finish(const QRect& rect)
{
    if (done_)
        return;
    done_ = true;
    result_ = rect;
    if (loop_)
        loop_->quit();
}

void RegionSelector::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawImage(0, 0, screen_);
    const QRect selected = dragging_ ? Dragged() : offered_;
    // Everything but the selection is dimmed.
    QRegion dim(rect());
    if (!selected.isEmpty())
        dim -= QRegion(selected);
    painter.setClipRegion(dim);
    painter.fillRect(rect(), QColor(0, 0, 0, 128));
    painter.setClipping(false);
    if (!selected.isEmpty()) {
        painter.setPen(QPen(QColor(0, 255, 255), 1, dragging_ ? Qt::SolidLine : Qt::DashLine));
        painter.drawRect(selected.adjusted(-1, -1, 0, 0));
    }
    // The size beside the pointer.
    const QString size = selected.isEmpty() ? QString() : QStringLiteral("%1 x %2").arg(selected.width()).arg(selected.height());
    if (!size.isEmpty()) {
        const QRect box = painter.fontMetrics().boundingRect(size).adjusted(-4, -2, 4, 2);
        QRect at = box.translated(pointer_ + QPoint(16, 16) - box.topLeft());
        if (at.right() > width())
            at.moveRight(pointer_.x() - 8);
        if (at.bottom() > height())
            at.moveBottom(pointer_.y() - 8);
        painter.fillRect(at, QColor(0, 0, 0, 200));
        painter.setPen(Qt::white);
        painter.drawText(at, Qt::AlignCenter, size);
    }
}

void RegionSelector::mousePressEvent(QMouseEvent* event)
{
    pointer_ = event->position().toPoint();
    if (event->button() == Qt::RightButton) {
        Finish(QRect());
    } else if (event->button() == Qt::LeftButton) {
        anchor_ = pointer_;
        dragging_ = true;
        update();
    }
}

void RegionSelector::mouseMoveEvent(QMouseEvent* event)
{
    pointer_ = event->position().toPoint();
    update();
}

void RegionSelector::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !dragging_)
        return;
    pointer_ = event->position().toPoint();
    dragging_ = false;
    const QPoint moved = pointer_ - anchor_;
    if (std::abs(moved.x()) >= kDragThreshold || std::abs(moved.y()) >= kDragThreshold)
        Finish(Dragged());
    else if (!offered_.isEmpty())
        Finish(offered_);  // a click takes the rectangle offered
    else
        update();  // nothing to take yet: the user drags again
}

void RegionSelector::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        Finish(QRect());
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        const QRect rect = dragging_ ? Dragged() : offered_;
        if (!rect.isEmpty())
            Finish(rect);
        break;
    }
    default:
        QWidget::keyPressEvent(event);
    }
}
