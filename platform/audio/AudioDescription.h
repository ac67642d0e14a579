// The form in which a sound source's description is stored as the audio device
// choice (a 64-byte text field) and compared when the choice is looked up: cut to 63
// bytes, never inside a UTF-8 sequence. The list that offers the choice and the
// lookup that finds the source again both go through this one cut, so a source whose
// description is longer is still found.
#pragma once

#include <cstddef>
#include <string_view>

namespace platform {

inline constexpr size_t kAudioDescriptionMax = 63;

inline std::string_view StoredAudioDescription(std::string_view description)
{
    if (description.size() <= kAudioDescriptionMax)
        return description;
    size_t end = kAudioDescriptionMax;
    // Byte `end` is the first one left out; a continuation byte there means the
    // sequence it belongs to goes as a whole.
    while (end > 0 && (static_cast<unsigned char>(description[end]) & 0xC0) == 0x80)
        --end;
    return description.substr(0, end);
}

}  // namespace platform
