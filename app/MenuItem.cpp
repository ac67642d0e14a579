#include "app/MenuItem.h"

MenuItem::MenuItem(const QString& caption, MenuItemKind kind, int32_t tag, int groupIndex, bool checked,
                   QObject* parent)
    : QAction(parent), caption_(caption), kind_(kind), tag_(tag), groupIndex_(groupIndex)
{
    if (caption == QLatin1String("-")) {
        setSeparator(true);
    } else {
        QString shown = caption;
        shown.replace(QLatin1Char('&'), QLatin1String("&&"));
        setText(shown);
    }
    setIconVisibleInMenu(false);
    if (kind != MenuItemKind::Plain) {
        setCheckable(true);
        setChecked(checked);
    }
}
