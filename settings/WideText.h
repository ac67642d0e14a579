// Conversions between the UTF-16 text the settings record holds in its wide
// fields and the UTF-8 text the settings file (and the rest of Linux) uses.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/Utf8ToUtf16.h"

// Invalid UTF-8 bytes become U+FFFD, one per byte.
using platform::Utf8ToUtf16;
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// The longest prefix of at most maxBytes bytes that does not end inside a UTF-8
// character.
size_t Utf8PrefixLength(std::string_view text, size_t maxBytes);
// The longest prefix of at most maxUnits units that does not end between the two
// halves of a surrogate pair.
size_t Utf16PrefixLength(std::u16string_view text, size_t maxUnits);
