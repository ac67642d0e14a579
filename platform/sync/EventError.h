// Internal to the named events: how they report failures, to the caller's error
// text where one is given and to the calling thread's NamedEvent::LastError.
#pragma once

#include <string>

namespace platform::event {

// Puts text into *error (when given) and into the thread's last error.
void Fail(std::string* error, std::string text);
// "what: <strerror(err)>".
std::string ErrnoText(const std::string& what, int err);
void SetLastError(std::string text);
std::string LastError();

}  // namespace platform::event
