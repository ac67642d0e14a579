// triMin: the tray icon that stands in for the main window while it is minimised to
// the tray, animated through the six tray frames while a recording runs. While shown
// it watches that a tray host really holds it: a host that refuses the icon or goes
// away would leave the user with neither window nor icon.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <functional>

class QSystemTrayIcon;
class QTimer;

class TrayIcon : public QObject {
    Q_OBJECT
public:
    // `activated` runs on a click or double click of the icon. `lost` runs when no
    // tray host has held the shown icon for a few seconds (refused or gone); the icon
    // is hidden then.
    TrayIcon(QObject* owner, std::function<void()> activated, std::function<void()> lost);

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
    void CheckDocking();

    QSystemTrayIcon* icon_;
    QTimer* timer_;
    QTimer* watch_;
    std::function<void()> lost_;
    QElapsedTimer undocked_;  // since when no host holds the icon
    bool sawWindow_ = false;  // an X11 icon window was there since the last Show
    int frame_ = 0;
};
