#include "settings/Tavreclogo.h"

#include <QFont>
#include <QLabel>
#include <QPalette>
#include <QTimer>

#include "app/Artwork.h"
#include "settings/TavrecScreenCentre.h"

#ifndef TAVREC_VERSION
#define TAVREC_VERSION "0.0"
#endif

namespace {

constexpr int kSplashWidth = 482;
constexpr int kSplashHeight = 309;

// The heavy, wide sans of the version label: Arial Black where it is installed,
// otherwise the nearest bold sans the desktop offers, 16 pixels high.
QFont VersionFont()
{
    QFont font(QStringLiteral("Arial Black"));
    font.setStyleHint(QFont::SansSerif);
    font.setWeight(QFont::Black);
    font.setPixelSize(16);
    return font;
}

}  // namespace

TfrmLOGO::TfrmLOGO(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("frmLOGO"));
    setFixedSize(kSplashWidth, kSplashHeight);

    imgLOGO = new QLabel(this);
    imgLOGO->setObjectName(QStringLiteral("imgLOGO"));
    imgLOGO->setGeometry(0, 0, kSplashWidth, kSplashHeight);
    imgLOGO->setPixmap(artwork::SplashPicture());

    lblVersionInfo = new QLabel(this);
    lblVersionInfo->setObjectName(QStringLiteral("lblVersionInfo"));
    lblVersionInfo->setGeometry(192, 224, 174, 23);
    lblVersionInfo->setFont(VersionFont());
    lblVersionInfo->setAutoFillBackground(false);
    lblVersionInfo->setAttribute(Qt::WA_TranslucentBackground);
    // The desktop's colour for the caption of an inactive window: Qt has no caption
    // role, its nearest is the highlight of the inactive group.
    QPalette palette = lblVersionInfo->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::Inactive, QPalette::Highlight));
    lblVersionInfo->setPalette(palette);
    lblVersionInfo->setText(QStringLiteral("Version " TAVREC_VERSION));

    CentreOnScreen(*this);

    tmrSecond = new QTimer(this);
    tmrSecond->setObjectName(QStringLiteral("tmrSecond"));
    tmrSecond->setSingleShot(true);
    // A coarse timer may fire up to 5 % early; the splash stays its full two seconds.
    tmrSecond->setTimerType(Qt::PreciseTimer);
    tmrSecond->setInterval(2000);
    connect(tmrSecond, &QTimer::timeout, this, &TfrmLOGO::tmrSecondTimer);
    tmrSecond->start();
}

void TfrmLOGO::tmrSecondTimer()
{
    accept();
}
