#include "app/RecordingBoxes.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <cstdio>

namespace {

// The box is as wide as its longest line, up to half the screen, so that a reason
// of one sentence reads on one line rather than wrapped into a narrow column.
void FitToText(QMessageBox& box, const QString& text, const QWidget* owner)
{
    auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    QScreen* screen = owner && owner->screen() ? owner->screen() : QGuiApplication::primaryScreen();
    if (!label || !screen)
        return;
    const QFontMetrics metrics(label->font());
    int widest = 0;
    for (const QString& line : text.split(QLatin1Char('\n')))
        widest = std::max(widest, metrics.horizontalAdvance(line));
    label->setMinimumWidth(std::min(widest + metrics.averageCharWidth(), screen->availableGeometry().width() / 2));
}

bool OnScreen(const QWidget* owner) { return owner && owner->isVisible() && !owner->isMinimized(); }

QMessageBox::StandardButton RunBox(QMessageBox::Icon icon, const QString& caption, const QString& text,
                                   QMessageBox::StandardButtons buttons, QWidget* owner)
{
    const bool attached = OnScreen(owner);
    QMessageBox box(icon, caption, text, buttons, attached ? owner : nullptr);
    box.setTextFormat(Qt::PlainText);
    FitToText(box, text, owner);
    if (!attached) {
        box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
        QScreen* screen = owner && owner->screen() ? owner->screen() : QGuiApplication::primaryScreen();
        if (screen) {
            // Laid out first, so that its size is final; a moved dialog keeps its place.
            box.adjustSize();
            QRect frame(QPoint(), box.size());
            frame.moveCenter(screen->availableGeometry().center());
            box.move(frame.topLeft());
        }
    }
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace

void RecordingErrorBox(QWidget* owner, const QString& text)
{
    // As the standard error box does, the line also goes to standard error.
    std::fprintf(stderr, "tavrec: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
    RunBox(QMessageBox::Critical, QStringLiteral("Error"), text, QMessageBox::Yes, owner);
}

bool ConfirmBox(QWidget* owner, const QString& text)
{
    return RunBox(QMessageBox::Question, QStringLiteral("Confirm"), text, QMessageBox::Yes | QMessageBox::No,
                  owner) == QMessageBox::Yes;
}

void PlainBox(QWidget* owner, const QString& text)
{
    RunBox(QMessageBox::NoIcon, QCoreApplication::applicationName(), text, QMessageBox::Ok, owner);
}
