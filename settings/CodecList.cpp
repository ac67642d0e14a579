#include "settings/CodecList.h"

#include <memory>
#include <string>

namespace settings {

CodecList EnumerateCodecs(const ScreenFormat* format, CodecAdmissionCache& cache, std::stop_token stop) {
    CodecList list{kUncompressedCodec};
    if (!format) return list;
    platform::CodecInfo info;
    for (int index = 0; !stop.stop_requested() && platform::CodecManager::Info(0, index, &info); ++index) {
        if (info.fccType != platform::kCodecTypeVideo || !cache.Admits(info, format->Header())) continue;
        list.emplace_back(platform::StoredCodecDescription(info.description));
    }
    return list;
}

CodecList EnumerateCodecs(const ScreenFormat* format, CodecAdmissionCache& cache) {
    return EnumerateCodecs(format, cache, std::stop_token{});
}

CodecList EnumerateCodecs(CodecAdmissionCache& cache, std::stop_token stop) {
    std::optional<ScreenFormat> format;
    if (std::unique_ptr<platform::XDisplay> display = platform::XDisplay::Open())
        format = BuildScreenFormat(*display, display->Root());
    return EnumerateCodecs(format ? &*format : nullptr, cache, stop);
}

CodecList EnumerateCodecs(CodecAdmissionCache& cache) { return EnumerateCodecs(cache, std::stop_token{}); }

}  // namespace settings
