// libav's log, as the codec manager uses it. Nothing reaches the terminal unless asked
// for: while a CodecLogCapture is alive on a thread, libav's error messages on that
// thread are kept (for LastError texts); everything else is dropped. The variable
// TAVREC_CODEC_LOG asks for libav's messages on standard error, at a level named as
// ffmpeg's -loglevel names them (quiet, panic, fatal, error, warning, info, verbose,
// debug, trace) or as libav's number. Encoders that write on their own instead of
// through libav (SVT-AV1's banner) are quietened the same way.
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

// Routes libav's log through the rules above (done by the first CodecLogCapture too).
void InstallCodecLog();

// libav's text for an error code (av_strerror), e.g. "Invalid argument".
std::string AvErrorText(int error);

}  // namespace platform
