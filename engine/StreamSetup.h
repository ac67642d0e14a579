// How the file's two streams are described and created, and how the video
// compressor is found by its description.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "engine/korvid.h"
#include "platform/avi/AviFile.h"
#include "platform/codec/CodecManager.h"

namespace korvid {

// Whether name (a CodecName: 64 units, terminated only when shorter) equals the
// compressor description in its stored form, platform::StoredCodecDescription: the
// codec list offers descriptions cut to 63 units, so a long one must still match.
// Exact and case-sensitive.
bool SameCodecDescription(const uint16_t* name, std::u16string_view description);

// The first compressor, in enumeration order, of type 'vidc' whose description in its
// stored form (platform::StoredCodecDescription) equals name exactly and which can
// compress the format; null when there is none.
std::unique_ptr<platform::Compressor> FindCodecByName(const uint16_t* name, const BitmapInfoHeader* format);

// Fills info for a 'vids' (format is a BitmapInfoHeader) or 'auds' (a WaveFormatEx)
// stream. 1, or -1 when a pointer is null or the kind is neither.
int32_t BuildStreamInfo(uint32_t kind, const CaptureOptions* options, const void* format,
                        platform::AviStreamInfo* info);

// Create and format the video or the audio stream; on failure report the text to
// NotifyWindow and leave *stream null. The video stream is described by `format`,
// the frame format the caller builds its frames in, so header and frames always
// agree. Its compressor, found by CodecName for that format, is handed to the caller
// in *compressor (null for an uncompressed stream) with the output format the stream
// was given in *outputFormat, so a recording opens its codec once.
bool CreateVideoStream(const CaptureOptions* options, platform::AviFile* file, const BitmapInfoHeader* format,
                       platform::AviStream** stream, std::unique_ptr<platform::Compressor>* compressor = nullptr,
                       std::vector<uint8_t>* outputFormat = nullptr);
bool CreateAudioStream(const CaptureOptions* options, platform::AviFile* file, platform::AviStream** stream);

}  // namespace korvid
