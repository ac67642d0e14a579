#include "platform/audio/PulseConnection.h"

namespace platform {

namespace {

struct Deadline {
    pa_threaded_mainloop* mainloop;
    bool passed;
};

void OnDeadline(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* arg) {
    auto* deadline = static_cast<Deadline*>(arg);
    deadline->passed = true;
    pa_threaded_mainloop_signal(deadline->mainloop, 0);
}

bool ContextSettled(void* arg) {
    pa_context_state_t state = pa_context_get_state(static_cast<pa_context*>(arg));
    return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
}

void OnOperationState(pa_operation*, void* mainloop) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(mainloop), 0);
}

bool OperationDone(void* arg) {
    return pa_operation_get_state(static_cast<pa_operation*>(arg)) != PA_OPERATION_RUNNING;
}

}  // namespace

std::unique_ptr<PulseConnection> PulseConnection::Connect(std::string* error) {
    auto fail = [error](const std::string& text) {
        if (error) *error = text;
        return std::unique_ptr<PulseConnection>();
    };
    std::unique_ptr<PulseConnection> self(new PulseConnection());
    self->mainloop_ = pa_threaded_mainloop_new();
    if (!self->mainloop_) return fail("Cannot create the sound server's main loop");

    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Tavrec");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "tavrec");
    pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "production");
    self->context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(self->mainloop_),
                                                  "Tavrec", properties);
    pa_proplist_free(properties);
    if (!self->context_) return fail("Cannot create a sound server context");
    pa_context_set_state_callback(self->context_, &PulseConnection::OnContextState, self.get());

    if (pa_threaded_mainloop_start(self->mainloop_) < 0) return fail("Cannot start the sound server's main loop");
    self->started_ = true;

    Lock lock(*self);
    // A recorder must not leave a sound server of its own behind: never autospawn.
    if (pa_context_connect(self->context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return fail("Cannot connect to the sound server: " + self->ErrorText());
    self->WaitUntil(&ContextSettled, self->context_);
    pa_context_state_t state = pa_context_get_state(self->context_);
    if (state != PA_CONTEXT_READY) {
        if (PA_CONTEXT_IS_GOOD(state)) return fail("The sound server did not answer in time");
        return fail("Cannot connect to the sound server: " + self->ErrorText());
    }
    return self;
}

PulseConnection::~PulseConnection() {
    if (context_) {
        {
            if (started_) pa_threaded_mainloop_lock(mainloop_);
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
            pa_context_unref(context_);
            context_ = nullptr;
            if (started_) pa_threaded_mainloop_unlock(mainloop_);
        }
    }
    if (mainloop_) {
        if (started_) pa_threaded_mainloop_stop(mainloop_);
        pa_threaded_mainloop_free(mainloop_);
    }
}

void PulseConnection::OnContextState(pa_context*, void* self) {
    pa_threaded_mainloop_signal(static_cast<PulseConnection*>(self)->mainloop_, 0);
}

bool PulseConnection::Good() const {
    return context_ && pa_context_get_state(context_) == PA_CONTEXT_READY;
}

std::string PulseConnection::ErrorText() const {
    return pa_strerror(context_ ? pa_context_errno(context_) : PA_ERR_UNKNOWN);
}

bool PulseConnection::WaitUntil(bool (*done)(void* arg), void* arg, uint32_t timeoutMs) {
    if (done(arg)) return true;
    Deadline deadline{mainloop_, false};
    pa_time_event* timer = pa_context_rttime_new(
        context_, pa_rtclock_now() + static_cast<pa_usec_t>(timeoutMs) * PA_USEC_PER_MSEC, &OnDeadline, &deadline);
    if (!timer) return done(arg);
    // While connecting, "good" includes the states before READY.
    while (!done(arg) && !deadline.passed && PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)))
        pa_threaded_mainloop_wait(mainloop_);
    pa_threaded_mainloop_get_api(mainloop_)->time_free(timer);
    return done(arg);
}

bool PulseConnection::Finish(pa_operation* operation, uint32_t timeoutMs) {
    if (!operation) return false;
    pa_operation_set_state_callback(operation, &OnOperationState, mainloop_);
    bool done = WaitUntil(&OperationDone, operation, timeoutMs);
    bool completed = done && pa_operation_get_state(operation) == PA_OPERATION_DONE;
    if (!done) pa_operation_cancel(operation);
    pa_operation_set_state_callback(operation, nullptr, nullptr);
    pa_operation_unref(operation);
    return completed;
}

}  // namespace platform
