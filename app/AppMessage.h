// The application-wide handler every posted message passes through before Qt
// dispatches anything: a native event filter on the X connection. It turns the
// TAVREC_MESSAGE ClientMessages (capture errors, hook messages, WM_HOTKEY) and the
// key presses of grabbed shortcuts into PostedMessages for the main window.
// Without the xcb platform there is no X connection and it stays passive.
#pragma once

#include <QAbstractNativeEventFilter>
#include <cstdint>

class TfrmMain;

class AppMessageFilter : public QAbstractNativeEventFilter {
public:
    // Installs itself on the application; removes itself when destroyed.
    explicit AppMessageFilter(TfrmMain& window);
    ~AppMessageFilter() override;
    AppMessageFilter(const AppMessageFilter&) = delete;
    AppMessageFilter& operator=(const AppMessageFilter&) = delete;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    TfrmMain& window_;
    uint32_t messageAtom_ = 0;  // TAVREC_MESSAGE; 0 without an X connection
};
