#include "app/TrayIcon.h"

#include <QIcon>
#include <QSystemTrayIcon>
#include <QTimer>

#include "app/Artwork.h"
#include "app/TrayDocking.h"

namespace {

// How long the icon may stay outside a host: a host embeds it within milliseconds,
// a loaded machine may take a moment longer, and a host restarting takes it back.
constexpr qint64 kUndockedPatienceMs = 5000;
constexpr int kWatchIntervalMs = 250;

}  // namespace

TrayIcon::TrayIcon(QObject* owner, std::function<void()> activated, std::function<void()> lost)
    : QObject(owner), icon_(new QSystemTrayIcon(this)), timer_(new QTimer(this)), watch_(new QTimer(this)),
      lost_(std::move(lost))
{
    watch_->setInterval(kWatchIntervalMs);
    connect(watch_, &QTimer::timeout, this, &TrayIcon::CheckDocking);
    icon_->setIcon(QIcon(artwork::TrayFrame(0)));
    timer_->setInterval(1000);
    connect(timer_, &QTimer::timeout, this, &TrayIcon::Advance);
    // Many hosts send no double click: a single activation restores as well.
    connect(icon_, &QSystemTrayIcon::activated, this,
            [activated = std::move(activated)](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    activated();
            });
}

bool TrayIcon::Available() { return QSystemTrayIcon::isSystemTrayAvailable(); }

bool TrayIcon::Shown() const { return icon_->isVisible(); }

void TrayIcon::Show()
{
    icon_->show();
    // Qt makes its X11 icon window in show(): seen here, it counts even when a host
    // that goes away at once takes it along before the first look of the watch.
    sawWindow_ = CurrentTrayDocking() != TrayDocking::NoWindow;
    undocked_.start();
    watch_->start();
}

void TrayIcon::Hide()
{
    watch_->stop();
    icon_->hide();
}

void TrayIcon::CheckDocking()
{
    const TrayDocking docking = CurrentTrayDocking();
    if (docking == TrayDocking::Docked) {
        sawWindow_ = true;
        undocked_.start();
        return;
    }
    if (docking == TrayDocking::Undocked)
        sawWindow_ = true;
    if (undocked_.elapsed() < kUndockedPatienceMs)
        return;
    if (!sawWindow_) {
        // Never an X11 window: the icon went to a host over D-Bus, which Qt follows.
        watch_->stop();
        return;
    }
    SetAnimation(false);
    Hide();
    if (lost_)
        lost_();
}

bool TrayIcon::Animated() const { return timer_->isActive(); }

void TrayIcon::SetAnimation(bool on)
{
    if (on) {
        if (!timer_->isActive())
            timer_->start();
        return;
    }
    timer_->stop();
    frame_ = 0;
    icon_->setIcon(QIcon(artwork::TrayFrame(0)));
}

void TrayIcon::Advance()
{
    frame_ = (frame_ + 1) % artwork::kTrayFrameCount;
    icon_->setIcon(QIcon(artwork::TrayFrame(frame_)));
}
