#include "platform/codec/CodecLog.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace platform {

namespace {

thread_local CodecLogCapture* t_capture = nullptr;

// The level TAVREC_CODEC_LOG asks for; AV_LOG_QUIET when it is not set.
int RequestedLevel()
{
    const char* text = std::getenv("TAVREC_CODEC_LOG");
    if (!text || !*text)
        return AV_LOG_QUIET;
    static const struct {
        const char* name;
        int level;
    } kNames[] = {{"quiet", AV_LOG_QUIET},     {"panic", AV_LOG_PANIC}, {"fatal", AV_LOG_FATAL},
                  {"error", AV_LOG_ERROR},     {"warning", AV_LOG_WARNING}, {"info", AV_LOG_INFO},
                  {"verbose", AV_LOG_VERBOSE}, {"debug", AV_LOG_DEBUG}, {"trace", AV_LOG_TRACE}};
    for (const auto& entry : kNames)
        if (std::strcmp(text, entry.name) == 0)
            return entry.level;
    char* end = nullptr;
    const long number = std::strtol(text, &end, 10);
    return end != text && *end == '\0' ? int(number) : AV_LOG_INFO;
}

// SVT-AV1's own log level (its SVT_LOG variable, read whenever an encoder opens) for a
// libav level: -1 prints nothing, 1 errors, 2 warnings, 3 information, 4 debugging.
const char* SvtLevel(int level)
{
    if (level < AV_LOG_ERROR)
        return "-1";
    if (level < AV_LOG_WARNING)
        return "1";
    if (level < AV_LOG_INFO)
        return "2";
    if (level < AV_LOG_VERBOSE)
        return "3";
    return "4";
}

const int g_requestedLevel = RequestedLevel();

// Set while the program loads, before it starts any thread: the environment is not
// changed under a thread that reads it. A level the user gave SVT-AV1 stays.
[[maybe_unused]] const bool g_svtLevelSet = [] {
    setenv("SVT_LOG", SvtLevel(g_requestedLevel), 0);
    if (g_requestedLevel > AV_LOG_INFO)
        av_log_set_level(g_requestedLevel);
    return true;
}();

}  // namespace

struct CodecLogSink {
    static void Callback(void* object, int level, const char* format, va_list args)
    {
        if (level <= g_requestedLevel) {
            va_list copy;
            va_copy(copy, args);
            av_log_default_callback(object, level, format, copy);
            va_end(copy);
        }
        CodecLogCapture* capture = t_capture;
        if (!capture || level > AV_LOG_ERROR)
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

void InstallCodecLog()
{
    static std::once_flag installed;
    std::call_once(installed, [] { av_log_set_callback(&CodecLogSink::Callback); });
}

CodecLogCapture::CodecLogCapture() : outer_(t_capture)
{
    InstallCodecLog();
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
