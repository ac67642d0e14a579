#include "app/MenuItem.h"

MenuItem::MenuItem(const QString& caption, MenuItemKind kind, int32_t tag, int groupIndex, bool checked,
                   QObject* parent)
    : QAction(caption, parent), kind_(kind), tag_(tag), groupIndex_(groupIndex) {
    // A caption of "-" is a real separator line.
    if (caption == QLatin1String("-")) setSeparator(true);
    if (kind != MenuItemKind::Plain) {
        setCheckable(true);
        setChecked(checked);
    }
}
