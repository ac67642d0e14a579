// A run-time menu item: a QAction that keeps the caption it was made with (compared
// exactly by MenuItemClick), its kind, tag and group index. The text shown is the
// caption as written: an '&' is doubled so that Qt adds no mnemonic.
#pragma once

#include <QAction>
#include <cstdint>

enum class MenuItemKind : int { Plain = 0, Check = 1, Radio = 2 };

class MenuItem : public QAction {
    Q_OBJECT
public:
    MenuItem(const QString& caption, MenuItemKind kind, int32_t tag, int groupIndex, bool checked,
             QObject* parent);

    const QString& Caption() const { return caption_; }
    MenuItemKind Kind() const { return kind_; }
    int32_t Tag() const { return tag_; }
    int GroupIndex() const { return groupIndex_; }

private:
    QString caption_;
    MenuItemKind kind_;
    int32_t tag_;
    int groupIndex_;
};
