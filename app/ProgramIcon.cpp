#include "app/ProgramIcon.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QIcon ProgramIcon()
{
    const QDir theme(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/icons/hicolor"));
    QIcon icon;
    for (const QString& size : theme.entryList({QStringLiteral("*x*")}, QDir::Dirs)) {
        const QString file = theme.filePath(size + QStringLiteral("/apps/tavrec.png"));
        if (QFileInfo::exists(file))
            icon.addFile(file);
    }
    if (icon.isNull())
        icon = QIcon::fromTheme(QStringLiteral("tavrec"));
    return icon;
}
