// A recording made through the library's exported functions, for tests.
#pragma once

#include <chrono>
#include <string>

#include "engine/korvid.h"

namespace testkit {

// The library's last-error text.
std::string LastErrorText();

struct Recording {
    CaptureOptions options{};
    CaptureContext context{};

    // Fills the options for a video recording of `window` into `file`.
    Recording(uint32_t window, const std::string& file, uint32_t fps, const std::u16string& codec = u"Uncompress");
    ~Recording();  // stops a recording that still runs
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

    void SetHook(OnFrameCode code, void* object) { context.OnFrame = OnFrameMethod{code, object}; }
    bool Initialize() { return InitializeScreenCapture(&context); }
    bool Start() { return StartRecording(&context); }
    bool Pause() { return PauseRecording(&context); }
    bool Stop() { return StopRecording(&context); }
    uint32_t State() const;
    // Initialize and start; false (with the library's text in *error) on failure.
    bool Begin(std::string* error = nullptr);
    // Waits until the recording ends by itself (State Idle); false on time-out.
    bool WaitUntilIdle(std::chrono::milliseconds timeout);
};

}  // namespace testkit
