// UTF-8 text to UTF-16, as the wide fields of the capture interface, the settings
// record and the codec descriptions hold it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Characters past U+FFFF become surrogate pairs. A byte that does not start a
// well-formed character (a stray continuation byte, a cut-off or overlong sequence,
// an encoded surrogate, a value past U+10FFFF) becomes one U+FFFD, and decoding goes
// on at the next byte.
inline std::u16string Utf8ToUtf16(std::string_view text)
{
    constexpr char16_t kReplacement = 0xFFFD;
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            out.push_back(char16_t(c));
            ++i;
            continue;
        }
        size_t length = 0;
        uint32_t cp = 0, minimum = 0;
        if ((c & 0xE0) == 0xC0)
            length = 2, cp = c & 0x1F, minimum = 0x80;
        else if ((c & 0xF0) == 0xE0)
            length = 3, cp = c & 0x0F, minimum = 0x800;
        else if ((c & 0xF8) == 0xF0)
            length = 4, cp = c & 0x07, minimum = 0x10000;
        bool valid = length != 0 && i + length <= text.size();
        for (size_t k = 1; valid && k < length; ++k) {
            const auto cc = static_cast<unsigned char>(text[i + k]);
            if ((cc & 0xC0) != 0x80)
                valid = false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (valid && (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)))
            valid = false;
        if (!valid) {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(char16_t(0xD800 + (cp >> 10)));
            out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
        i += length;
    }
    return out;
}

}  // namespace platform
