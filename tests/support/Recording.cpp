// links: korvid
#include "tests/support/Recording.h"

#include <cstdio>
#include <cstring>
#include <thread>

namespace testkit {

std::string LastErrorText()
{
    int32_t capacity = 0;
    return GetMyLastError(&capacity);
}

Recording::Recording(uint32_t window, const std::string& file, uint32_t fps, const std::u16string& codec)
{
    options.CaptureWindow = window;
    std::snprintf(options.FileName, sizeof options.FileName, "%s", file.c_str());
    std::memcpy(options.CodecName, codec.data(), std::min<size_t>(codec.size(), 63) * sizeof(char16_t));
    options.VideoEnabled = 1;
    options.FramesPerSecond = fps;
    context.Options = &options;
}

Recording::~Recording()
{
    StopRecording(&context);
}

uint32_t Recording::State() const
{
    return __atomic_load_n(&context.State, __ATOMIC_ACQUIRE);
}

bool Recording::Begin(std::string* error)
{
    if (!Initialize()) {
        if (error)
            *error = LastErrorText();
        return false;
    }
    Start();
    return true;
}

bool Recording::WaitUntilIdle(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (State() != StateIdle) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace testkit
