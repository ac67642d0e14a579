// The application-wide message handler's hook: a native event filter that sees every
// X event before Qt dispatches it and hands on the posted messages of the program
// (ClientMessages of type TAVREC_MESSAGE: the capture library's CaptureErrorMessage,
// the hook component's messages) and key presses (the grabbed global shortcuts).
// Installed on the application for the life of the object.
#pragma once

#include <QAbstractNativeEventFilter>

#include <cstdint>
#include <functional>

class AppMessageFilter : public QAbstractNativeEventFilter {
public:
    // Returns true when the message is handled and Qt is not to see it.
    using MessageHandler = std::function<bool(uint32_t message, int32_t wParam, int32_t lParam)>;
    // A key press on any window, the root's grabs included: X key code and modifier state.
    using KeyHandler = std::function<bool(uint8_t keycode, uint16_t state)>;

    AppMessageFilter(MessageHandler onMessage, KeyHandler onKeyPress);
    ~AppMessageFilter() override;
    AppMessageFilter(const AppMessageFilter&) = delete;
    AppMessageFilter& operator=(const AppMessageFilter&) = delete;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

    // The TAVREC_MESSAGE atom on Qt's X connection, 0 when not running on X11.
    uint32_t MessageAtom() const { return atom_; }

private:
    // Runs a handler; an error escaping it is shown in the error box once the
    // current X event has been processed, since a nested loop must not run inside
    // Qt's X event processing.
    bool Guarded(const std::function<bool()>& call);

    MessageHandler onMessage_;
    KeyHandler onKeyPress_;
    uint32_t atom_ = 0;
};
