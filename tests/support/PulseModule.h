// A PulseAudio module loaded for a test (a source of its own, say) and unloaded again.
#pragma once

#include <string>
#include <vector>

namespace testkit {

class PulseModule {
public:
    // Runs `pactl load-module` with the arguments (the module's name first).
    explicit PulseModule(const std::vector<std::string>& arguments);
    ~PulseModule();  // unloads it unless that was done already
    PulseModule(const PulseModule&) = delete;
    PulseModule& operator=(const PulseModule&) = delete;

    bool Loaded() const { return !id_.empty(); }
    // Unloads it now, as a source that goes away would (a microphone unplugged).
    bool Unload();

private:
    std::string id_;
};

// Waits until some record stream reads from the source of that name; false after
// ten seconds.
bool WaitUntilSourceIsRecorded(const std::string& sourceName);

}  // namespace testkit
