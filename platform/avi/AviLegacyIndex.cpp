#include "platform/avi/AviLegacyIndex.h"

#include "platform/avi/AviOutput.h"

namespace platform {

using namespace avi;

void AviLegacyIndex::Add(uint32_t chunkId, uint64_t headerOffset, uint32_t bytes, bool keyFrame)
{
    entries_.push_back({chunkId, keyFrame ? kIdx1KeyFrame : 0, uint32_t(headerOffset - (moviListOffset_ + 8)), bytes});
}

bool AviLegacyIndex::AppendChunk(AviOutput& out) const
{
    const ChunkHeader header{kIdx1, uint32_t(sizeof(Idx1Entry) * entries_.size())};
    return out.Append(&header, sizeof header) && out.Append(entries_.data(), sizeof(Idx1Entry) * entries_.size());
}

uint64_t AviLegacyIndex::ChunkEnd(const Idx1Entry& e) const
{
    return moviListOffset_ + 8 + e.dwChunkOffset + 8 + Padded(e.dwChunkLength);
}

void AviLegacyIndex::DropChunksPast(uint64_t fileEnd)
{
    while (!entries_.empty() && ChunkEnd(entries_.back()) > fileEnd)
        entries_.pop_back();
}

void AviLegacyIndex::DropLast()
{
    if (!entries_.empty())
        entries_.pop_back();
}

void AviLegacyIndex::Release()
{
    entries_.clear();
    entries_.shrink_to_fit();
}

}  // namespace platform
