// The fixed-size text fields of CaptureOptions, read within their sizes: a caller
// that fills a field to the last byte leaves no terminator, and the text then ends
// with the field.
#pragma once

#include <cstddef>
#include <string_view>

namespace korvid {

template <size_t N>
std::string_view OptionText(const char (&field)[N])
{
    size_t length = 0;
    while (length < N && field[length] != '\0')
        ++length;
    return std::string_view(field, length);
}

}  // namespace korvid
