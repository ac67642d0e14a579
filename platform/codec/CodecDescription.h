// The form in which a compressor's description is stored as a codec choice and
// compared when the choice is looked up: cut to 63 UTF-16 units, never between the
// two halves of a surrogate pair. The list that offers the choice and the lookup
// that finds the compressor again both go through this one cut.
#pragma once

#include <cstddef>
#include <string_view>

namespace platform {

inline constexpr size_t kCodecDescriptionMax = 63;

std::u16string_view StoredCodecDescription(std::u16string_view description);

}  // namespace platform
