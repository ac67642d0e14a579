// The video codec list of the preferences: "Uncompress" first, then every video
// compressor that can compress the screen's frames, by its description text, which
// is also how the choice is stored and found again by the capture library.
#pragma once

#include <cstddef>
#include <stop_token>
#include <string>
#include <vector>

#include "platform/codec/CodecDescription.h"
#include "settings/CodecAdmissionCache.h"
#include "settings/ScreenFormat.h"

namespace settings {

// Longest description kept, in UTF-16 units (the stored codec name has room for 63
// and a terminator). The capture library compares against the same cut.
inline constexpr size_t kCodecDescriptionMax = platform::kCodecDescriptionMax;

// The entry that stands for uncompressed recording.
inline constexpr const char16_t* kUncompressedCodec = u"Uncompress";

using CodecList = std::vector<std::u16string>;  // entry 0 is u"Uncompress"

// "Uncompress", then every video encoder (libavcodec order) that can compress format,
// its description cut to kCodecDescriptionMax units (never between the halves of a
// surrogate pair). No format: "Uncompress" alone. Safe to run on a worker thread.
CodecList EnumerateCodecs(const ScreenFormat* format, CodecAdmissionCache& cache);
// The same, ending early (with the codecs admitted so far) once stop is requested,
// so a dialog closed during the enumeration does not wait for every encoder.
CodecList EnumerateCodecs(const ScreenFormat* format, CodecAdmissionCache& cache, std::stop_token stop);
// Over the screen format of the default display's root window; "Uncompress" alone
// when no X server answers.
CodecList EnumerateCodecs(CodecAdmissionCache& cache);
CodecList EnumerateCodecs(CodecAdmissionCache& cache, std::stop_token stop);

}  // namespace settings
