#include "platform/codec/CodecDescription.h"

namespace platform {

std::u16string_view StoredCodecDescription(std::u16string_view description)
{
    if (description.size() <= kCodecDescriptionMax)
        return description;
    size_t end = kCodecDescriptionMax;
    // Unit end is the first one left out; when it is a low surrogate, the high one
    // before it goes too.
    if (description[end] >= 0xDC00 && description[end] <= 0xDFFF && description[end - 1] >= 0xD800 &&
        description[end - 1] <= 0xDBFF)
        --end;
    return description.substr(0, end);
}

}  // namespace platform
