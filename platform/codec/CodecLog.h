// libav's log, as the codec manager uses it: while a CodecLogCapture is alive on a
// thread, libav's error messages on that thread are kept (for LastError texts) instead
// of being printed, so probing encoders that cannot open here stays quiet. Outside a
// capture (and on libav's own worker threads) warnings and errors go to libav's
// default log; statistics and progress notes are dropped.
#pragma once

#include <string>

namespace platform {

class CodecLogCapture {
public:
    CodecLogCapture();
    ~CodecLogCapture();
    CodecLogCapture(const CodecLogCapture&) = delete;
    CodecLogCapture& operator=(const CodecLogCapture&) = delete;

    // The error messages logged on this thread since the capture began (or since the
    // last Take), joined with "; ", and clears them.
    std::string Take();

private:
    CodecLogCapture* outer_;
    std::string text_;
    friend struct CodecLogSink;
};

// libav's text for an error code (av_strerror), e.g. "Invalid argument".
std::string AvErrorText(int error);

}  // namespace platform
