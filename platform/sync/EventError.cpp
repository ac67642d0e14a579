#include "platform/sync/EventError.h"

#include <cstring>

namespace platform::event {

namespace {

thread_local std::string t_lastError;

}  // namespace

void Fail(std::string* error, std::string text)
{
    if (error)
        *error = text;
    t_lastError = std::move(text);
}

std::string ErrnoText(const std::string& what, int err)
{
    return what + ": " + std::strerror(err);
}

void SetLastError(std::string text)
{
    t_lastError = std::move(text);
}

std::string LastError()
{
    return t_lastError;
}

}  // namespace platform::event
