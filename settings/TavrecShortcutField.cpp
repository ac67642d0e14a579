#include "settings/TavrecShortcutField.h"

#include <QGuiApplication>
#include <QKeyEvent>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <memory>
#include <optional>

#include "settings/VirtualKeys.h"

namespace {

// The keysym of the key's first level on the application's X connection: Shift turns
// "1" into "exclam", which names no virtual key, while the key is still "1".
std::optional<uint32_t> FirstLevelKeysym(uint32_t keycode)
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection() || keycode == 0 || keycode > 255)
        return std::nullopt;
    std::unique_ptr<xcb_key_symbols_t, decltype(&xcb_key_symbols_free)> symbols(
        xcb_key_symbols_alloc(x11->connection()), &xcb_key_symbols_free);
    if (!symbols)
        return std::nullopt;
    const xcb_keysym_t keysym = xcb_key_symbols_get_keysym(symbols.get(), static_cast<xcb_keycode_t>(keycode), 0);
    if (keysym == XCB_NO_SYMBOL)
        return std::nullopt;
    return keysym;
}

// The virtual-key code of the pressed key: from the keysym the event carries, else
// from the key's unshifted keysym.
std::optional<uint8_t> VirtualKeyOf(const QKeyEvent& event)
{
    if (auto vk = settings::VirtualKeyOfKeysym(event.nativeVirtualKey()))
        return vk;
    if (auto keysym = FirstLevelKeysym(event.nativeScanCode()))
        return settings::VirtualKeyOfKeysym(*keysym);
    return std::nullopt;
}

bool IsModifierKey(int key)
{
    switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
        return true;
    default:
        return false;
    }
}

}  // namespace

ShortcutField::ShortcutField(QWidget* parent) : QLineEdit(parent)
{
    setReadOnly(true);  // no caret editing, no input method; keys are read below
    setContextMenuPolicy(Qt::NoContextMenu);
    ShowWord();
}

void ShortcutField::SetShortcut(uint16_t word)
{
    word_ = word;
    ShowWord();
}

void ShortcutField::ShowWord()
{
    const std::string text = settings::ShortcutText(word_);
    setText(text.empty() ? QStringLiteral("None") : QString::fromStdString(text));
}

bool ShortcutField::event(QEvent* event)
{
    // Every key combination is the field's, before any shortcut of the window sees it.
    if (event->type() == QEvent::ShortcutOverride) {
        event->accept();
        return true;
    }
    // Tab with Ctrl or Alt is a shortcut like any other; plain Tab still moves the focus.
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) &&
            (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            keyPressEvent(key);
            return true;
        }
    }
    return QLineEdit::event(event);
}

void ShortcutField::keyPressEvent(QKeyEvent* event)
{
    // Every key is the field's: Enter or Escape must not reach the dialog from here.
    event->accept();
    if (event->isAutoRepeat() || IsModifierKey(event->key()))
        return;
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    // The word has no bit for the Super key: a combination with it cannot be kept.
    if (modifiers & Qt::MetaModifier)
        return;
    const std::optional<uint8_t> vk = VirtualKeyOf(*event);
    if (!vk)
        return;
    const uint16_t word = settings::MakeShortcut(*vk, modifiers & Qt::ShiftModifier, modifiers & Qt::ControlModifier,
                                                 modifiers & Qt::AltModifier);
    if (!settings::IsAcceptableShortcut(word))
        return;  // no modifier, or Shift alone: the field keeps its combination
    if (word != word_) {
        word_ = word;
        ShowWord();
        emit ShortcutChanged(word_);
    }
}

void ShortcutField::keyReleaseEvent(QKeyEvent* event)
{
    event->accept();
}

void ShortcutField::focusInEvent(QFocusEvent* event)
{
    QLineEdit::focusInEvent(event);
    emit Entered();
}
