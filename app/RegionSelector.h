// Choosing a free rectangle of the screen to record: the screen is shown frozen (a
// screenshot over everything), the user drags a rectangle with the left button
// while the rest is dimmed and the size is shown beside the pointer. The release
// or Enter confirms, Escape or a right click cancels; a click without a drag (or
// Enter before any drag) takes the rectangle offered, the one chosen last time.
#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QWidget>

#include "settings/RecorderSettings.h"

class QEventLoop;

class RegionSelector : public QWidget {
    Q_OBJECT
public:
    // Runs the choice in a nested event loop; true with *chosen (in root coordinates,
    // within the screen) when confirmed, false when cancelled (at once when another
    // client holds the pointer, as no choice can be made then). `offered` is clipped
    // to the screen; nothing is offered when it is not stored or lies off the screen.
    static bool Select(const CaptureRegion& offered, CaptureRegion* chosen);

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    RegionSelector(const QImage& screen, const QRect& geometry, const QRect& offered);
    void Finish(const QRect& rect);  // an empty rect cancels
    QRect Dragged() const;

    QImage screen_;
    QRect offered_;  // widget coordinates; empty: none
    QPoint anchor_, pointer_;
    bool dragging_ = false;
    bool done_ = false;
    QRect result_;
    QEventLoop* loop_ = nullptr;
};
