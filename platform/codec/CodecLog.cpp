#include "platform/codec/CodecLog.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

#include <cstdarg>
#include <mutex>

namespace platform {

namespace {

thread_local CodecLogCapture* t_capture = nullptr;

}  // namespace

struct CodecLogSink {
    static void Callback(void* object, int level, const char* format, va_list args)
    {
        CodecLogCapture* capture = t_capture;
        if (!capture) {
            // Encoders report statistics when closed and progress while working:
            // only warnings and errors are worth a recorder's standard error.
            if (level <= AV_LOG_WARNING)
                av_log_default_callback(object, level, format, args);
            return;
        }
        if (level > AV_LOG_ERROR)
            return;
        char line[512];
        int prefix = 0;
        av_log_format_line2(object, level, format, args, line, sizeof line, &prefix);
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
            text.pop_back();
        if (text.empty())
            return;
        for (char& c : text)
            if (c == '\n')
                c = ' ';
        if (capture->text_.size() < 1024) {
            if (!capture->text_.empty())
                capture->text_ += "; ";
            capture->text_ += text;
        }
    }
};

CodecLogCapture::CodecLogCapture() : outer_(t_capture)
{
    static std::once_flag installed;
    std::call_once(installed, [] { av_log_set_callback(&CodecLogSink::Callback); });
    t_capture = this;
}

CodecLogCapture::~CodecLogCapture()
{
    t_capture = outer_;
}

std::string CodecLogCapture::Take()
{
    std::string text;
    text.swap(text_);
    return text;
}

std::string AvErrorText(int error)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

}  // namespace platform
