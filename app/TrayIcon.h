// triMin: the tray icon that stands in for the main window while it is minimised to
// the tray, animated through the six tray frames while a recording runs.
#pragma once

#include <QObject>
#include <functional>

class QSystemTrayIcon;
class QTimer;

class TrayIcon : public QObject {
    Q_OBJECT
public:
    // `activated` runs on a click or double click of the icon.
    TrayIcon(QObject* owner, std::function<void()> activated);

    // False when no tray host is there to show the icon.
    static bool Available();
    bool Shown() const;
    void Show();
    void Hide();
    // On: the next frame every 1000 ms; off: frame 0, still.
    void SetAnimation(bool on);
    bool Animated() const;
    int Frame() const { return frame_; }

private:
    void Advance();

    QSystemTrayIcon* icon_;
    QTimer* timer_;
    int frame_ = 0;
};
