#include "settings/TavrecScreenCentre.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace {

void MoveFrameToCentre(QWidget& window, QSize frame)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect placed(QPoint(), frame);
    placed.moveCenter(screen->geometry().center());
    window.move(placed.topLeft());  // a window's position is its frame's
}

// Waits for the first move or resize that shows a frame around the window, centres
// the framed window, and goes. A window the manager never frames keeps the first place.
class FrameCentring : public QObject {
public:
    explicit FrameCentring(QWidget& window) : QObject(&window), window_(window) { window.installEventFilter(this); }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == &window_ && (event->type() == QEvent::Move || event->type() == QEvent::Resize)) {
            const QSize frame = window_.frameGeometry().size();
            if (frame != window_.size()) {
                window_.removeEventFilter(this);
                MoveFrameToCentre(window_, frame);
                deleteLater();
            }
        }
        return false;
    }

private:
    QWidget& window_;
};

}  // namespace

void CentreOnScreen(QWidget& window)
{
    MoveFrameToCentre(window, window.size());
    new FrameCentring(window);
}
