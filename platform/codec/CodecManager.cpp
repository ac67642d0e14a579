#include "platform/codec/CodecManager.h"

#include "platform/codec/CodecRegistry.h"
#include "platform/codec/CompressorImpl.h"

namespace platform {

bool CodecManager::Info(uint32_t fccType, int index, CodecInfo* info)
{
    if (!info || index < 0 || (fccType != 0 && fccType != kCodecTypeVideo))
        return false;
    const std::vector<const CodecEntry*>& entries = CodecRegistry::Entries();
    if (size_t(index) >= entries.size())
        return false;
    *info = entries[size_t(index)]->info;
    return true;
}

std::unique_ptr<Compressor> CodecManager::OpenFirst(const std::function<bool(const CodecInfo&)>& wanted,
                                                    const BitmapInfoHeader& input)
{
    std::unique_ptr<Compressor> found;
    CodecRegistry::FindFirst(wanted, [&](const CodecEntry& entry) {
        std::unique_ptr<Compressor> compressor(new Compressor(std::make_unique<Compressor::Impl>(entry)));
        if (!compressor->CanCompress(input))
            return false;
        found = std::move(compressor);
        return true;
    });
    return found;
}

std::unique_ptr<Compressor> CodecManager::Open(uint32_t fccType, uint32_t fccHandler)
{
    const CodecEntry* entry = CodecRegistry::Find(fccType, fccHandler);
    if (!entry)
        return nullptr;
    return std::unique_ptr<Compressor>(new Compressor(std::make_unique<Compressor::Impl>(*entry)));
}

std::unique_ptr<Compressor> CodecManager::Open(const CodecInfo& info)
{
    if (info.encoderName.empty())
        return Open(info.fccType, info.fccHandler);
    if (info.fccType != 0 && info.fccType != kCodecTypeVideo)
        return nullptr;
    const CodecEntry* entry = CodecRegistry::FindEncoder(info.encoderName);
    if (!entry)
        return nullptr;
    return std::unique_ptr<Compressor>(new Compressor(std::make_unique<Compressor::Impl>(*entry)));
}

}  // namespace platform
