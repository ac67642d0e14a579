#include "app/TrayIcon.h"

#include <QIcon>
#include <QSystemTrayIcon>
#include <QTimer>

#include "app/Artwork.h"

TrayIcon::TrayIcon(QObject* owner, std::function<void()> activated)
    : QObject(owner), icon_(new QSystemTrayIcon(this)), timer_(new QTimer(this))
{
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

void TrayIcon::Show() { icon_->show(); }

void TrayIcon::Hide() { icon_->hide(); }

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
