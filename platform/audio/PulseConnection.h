// One connection to the PulseAudio server: a threaded main loop and a context on it,
// with waits that end when their condition holds, when the time limit passes or when
// the connection breaks, so that a stalled or vanished server never hangs a caller.
#pragma once

#include <pulse/pulseaudio.h>

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

class PulseConnection {
public:
    // Time limit for connecting and for one request to the server.
    static constexpr uint32_t kRequestTimeoutMs = 5000;

    // Connects to the server the environment names (PULSE_SERVER, XDG_RUNTIME_DIR or
    // the client configuration); never starts a server. Null with the reason in *error.
    static std::unique_ptr<PulseConnection> Connect(std::string* error);

    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    pa_threaded_mainloop* Mainloop() const { return mainloop_; }
    pa_context* Context() const { return context_; }

    // True while the context is connected. Call with the lock held.
    bool Good() const;
    // The server's text for the context's last error.
    std::string ErrorText() const;

    // With the lock held: waits until done(arg) is true, the connection breaks or
    // timeoutMs pass. Returns done(arg) at the end.
    bool WaitUntil(bool (*done)(void* arg), void* arg, uint32_t timeoutMs = kRequestTimeoutMs);
    // With the lock held: waits until the operation has completed (its callback ran),
    // cancels it on time-out or broken connection, and releases it. False for a null
    // operation or one that did not complete.
    bool Finish(pa_operation* operation, uint32_t timeoutMs = kRequestTimeoutMs);

    // Holds the main loop's lock for a scope. The lock is recursive.
    class Lock {
    public:
        explicit Lock(const PulseConnection& connection) : mainloop_(connection.mainloop_) {
            pa_threaded_mainloop_lock(mainloop_);
        }
        ~Lock() { pa_threaded_mainloop_unlock(mainloop_); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* mainloop_;
    };

private:
    PulseConnection() = default;
    static void OnContextState(pa_context* context, void* self);

    pa_threaded_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
    bool started_ = false;
};

}  // namespace platform
