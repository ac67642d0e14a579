// A run-time menu item of the main window: an action with the caption as its text
// exactly, its kind, an integer tag and a group index. Check items are checkable;
// radio items are checkable and, once added to a submenu, belong to that submenu's
// exclusive group of their index.
#pragma once

#include <QAction>

#include <cstdint>

enum class MenuItemKind : int { Plain = 0, Check = 1, Radio = 2 };

class MenuItem : public QAction {
    Q_OBJECT
public:
    MenuItem(const QString& caption, MenuItemKind kind, int32_t tag, int groupIndex, bool checked,
             QObject* parent);

    MenuItemKind kind() const { return kind_; }
    int32_t tag() const { return tag_; }
    int groupIndex() const { return groupIndex_; }

private:
    MenuItemKind kind_;
    int32_t tag_;
    int groupIndex_;
};
