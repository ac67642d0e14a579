#include "engine/StreamSetup.h"

#include <cstring>
#include <vector>

#include "engine/LastError.h"
#include "platform/codec/CodecDescription.h"

namespace korvid {

bool SameCodecDescription(const uint16_t* name, std::u16string_view description)
{
    constexpr size_t kCapacity = sizeof CaptureOptions::CodecName / sizeof(uint16_t);
    const std::u16string_view stored = platform::StoredCodecDescription(description);
    size_t i = 0;
    for (; i < kCapacity && name[i] != 0; ++i)
        if (i >= stored.size() || name[i] != stored[i])
            return false;
    return i == stored.size();
}

std::unique_ptr<platform::Compressor> FindCodecByName(const uint16_t* name, const BitmapInfoHeader* format)
{
    if (!name || !format)
        return nullptr;
    // Only compressors of that description are opened and asked about the format: a
    // name no compressor has ("Uncompress") opens none.
    return platform::CodecManager::OpenFirst(
        [name](const platform::CodecInfo& info) {
            return info.fccType == platform::kCodecTypeVideo && SameCodecDescription(name, info.description);
        },
        *format);
}

int32_t BuildStreamInfo(uint32_t kind, const CaptureOptions* options, const void* format,
                        platform::AviStreamInfo* info)
{
    if (!options || !format || !info)
        return -1;
    std::memset(info, 0, sizeof *info);
    info->dwQuality = 0xFFFFFFFFu;
    info->fccType = kind;
    if (kind == platform::kStreamTypeVideo) {
        const auto* bitmap = static_cast<const BitmapInfoHeader*>(format);
        info->dwScale = 1;
        info->dwRate = options->FramesPerSecond;
        info->dwSuggestedBufferSize = bitmap->biSizeImage;
        std::strcpy(info->szName, "Video");
        info->rcFrame = RectL{0, 0, bitmap->biWidth, bitmap->biHeight};
        return 1;
    }
    if (kind == platform::kStreamTypeAudio) {
        const auto* wave = static_cast<const WaveFormatEx*>(format);
        info->dwScale = wave->nBlockAlign;
        info->dwSampleSize = wave->nBlockAlign;
        info->dwRate = wave->nAvgBytesPerSec;
        info->dwInitialFrames = options->FramesPerSecond * 3 / 4;  // 0.75 s, truncated
        return 1;
    }
    return -1;
}

bool CreateVideoStream(const CaptureOptions* options, platform::AviFile* file, const BitmapInfoHeader* format,
                       platform::AviStream** stream, std::unique_ptr<platform::Compressor>* found,
                       std::vector<uint8_t>* outputFormat)
{
    *stream = nullptr;
    if (found)
        found->reset();
    if (outputFormat)
        outputFormat->clear();
    if (!file || !options) {
        ReportCaptureError(options ? options->NotifyWindow : 0, "Param error");
        return false;
    }
    const KorvidWindow notify = options->NotifyWindow;
    if (!format) {
        ReportCaptureError(notify, "Failed to get bitmap information");
        return false;
    }
    platform::AviStreamInfo info;
    if (BuildStreamInfo(platform::kStreamTypeVideo, options, format, &info) != 1) {
        ReportCaptureError(notify, "Failed to set video stream information");
        return false;
    }
    std::unique_ptr<platform::Compressor> compressor = FindCodecByName(options->CodecName, format);
    if (compressor)
        info.fccHandler = compressor->GetInfo().fccHandler;

    platform::AviStream* created = file->CreateStream(info);
    if (!created) {
        ReportCaptureError(notify, "Failed to create video stream");
        return false;
    }
    std::vector<uint8_t> output;
    if (compressor) {
        // The stream format is the compressor's whole output format: the header and the
        // extra data after it, without which Huffyuv, FFV1 or Ut Video streams cannot
        // be decoded.
        const uint32_t size = compressor->GetFormatSize(*format);
        output.resize(size);
        if (size < sizeof(BitmapInfoHeader) || !compressor->GetFormat(*format, output.data(), size) ||
            !created->SetFormat(0, output.data(), size)) {
            ReportCaptureError(notify, "Failed to set video stream (compress) format");
            created->Release();
            return false;
        }
    } else if (!created->SetFormat(0, format, sizeof(BitmapInfoHeader))) {
        ReportCaptureError(notify, "Failed to set video stream (uncompress) format");
        created->Release();
        return false;
    }
    *stream = created;
    if (found)
        *found = std::move(compressor);
    if (outputFormat)
        *outputFormat = std::move(output);
    return true;
}

bool CreateAudioStream(const CaptureOptions* options, platform::AviFile* file, platform::AviStream** stream)
{
    *stream = nullptr;
    if (!file || !options) {
        ReportCaptureError(options ? options->NotifyWindow : 0, "Param error");
        return false;
    }
    const KorvidWindow notify = options->NotifyWindow;
    WaveFormatEx format = options->AudioFormat;
    platform::AviStreamInfo info;
    if (BuildStreamInfo(platform::kStreamTypeAudio, options, &format, &info) != 1) {
        ReportCaptureError(notify, "Failed to set audio stream information");
        return false;
    }
    platform::AviStream* created = file->CreateStream(info);
    if (!created) {
        ReportCaptureError(notify, "Failed to create audio stream");
        return false;
    }
    if (!created->SetFormat(0, &format, sizeof format)) {
        ReportCaptureError(notify, "Failed to set audio stream format");
        created->Release();
        return false;
    }
    *stream = created;
    return true;
}

}  // namespace korvid
