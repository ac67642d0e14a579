#include "app/ErrorBox.h"

#include <QMessageBox>
#include <cstdio>

QString WithClosingPeriod(const QString& message)
{
    if (message.endsWith(QLatin1Char('.')))
        return message;
    return message + QLatin1Char('.');
}

void ShowErrorBox(const QString& message, QWidget* owner)
{
    const QString text = WithClosingPeriod(message);
    std::fprintf(stderr, "tavrec: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);

    QMessageBox box(QMessageBox::Critical, QStringLiteral("Tavrec"), text, QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}
