// Names and texts between quotes in the registry export format: a backslash and a
// quote are written as \\ and \", and no other escape exists.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// Reads a quoted text starting at s[*pos] == '"', undoing the escapes; *pos is then
// just past the closing quote. False with the reason for an unknown escape or a
// missing closing quote.
bool ParseQuoted(std::string_view s, size_t* pos, std::string* out, std::string* error);
// Appends text with its backslashes and quotes escaped (without the quotes around it).
void AppendEscaped(std::string* out, std::string_view text);

}  // namespace platform
