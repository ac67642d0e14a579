// The shortcut field of the preferences: a one-line field that takes one key with
// its modifiers as the 16-bit shortcut word (virtual-key code in the low byte,
// 0x2000 Shift, 0x4000 Ctrl, 0x8000 Alt) and shows it ("Ctrl+Alt+F9").
//
// A key pressed without Ctrl or Alt (Shift alone included) is refused and the field
// keeps what it held. A field the user never changes gives back exactly the word it
// was set to, whether or not that word names a key (the stored default 1 does not).
#pragma once

#include <QLineEdit>
#include <cstdint>

class ShortcutField : public QLineEdit {
    Q_OBJECT
public:
    explicit ShortcutField(QWidget* parent = nullptr);

    void SetShortcut(uint16_t word);
    uint16_t Shortcut() const { return word_; }

signals:
    // The field received the focus.
    void Entered();
    // The user set a new combination.
    void ShortcutChanged(uint16_t word);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    void ShowWord();

    uint16_t word_ = 0;
};
