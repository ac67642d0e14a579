#include "settings/CodecAdmissionCache.h"

#include <memory>

namespace settings {

bool CodecAdmissionCache::Admits(const platform::CodecInfo& info, const BitmapInfoHeader& format) {
    const Key key{info.encoderName.empty() ? "#" + std::to_string(info.fccHandler) : info.encoderName,
                  format.biCompression, format.biWidth, format.biHeight, format.biBitCount};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = answers_.find(key);
        if (found != answers_.end()) return found->second;
        ++queries_;
    }
    // Two threads asking about the same key at once both ask the compressor; the
    // answers are the same, and the UI thread is never held up behind a test encode.
    bool admitted = false;
    if (std::unique_ptr<platform::Compressor> compressor = platform::CodecManager::Open(info))
        admitted = compressor->GetInfo().fccType == platform::kCodecTypeVideo && compressor->CanCompress(format);
    std::lock_guard<std::mutex> lock(mutex_);
    answers_.emplace(key, admitted);
    return admitted;
}

size_t CodecAdmissionCache::QueryCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return queries_;
}

size_t CodecAdmissionCache::Size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return answers_.size();
}

}  // namespace settings
