// Internal to the AVI writer: the legacy 'idx1' index of the first RIFF part, for
// readers that know no OpenDML index. One entry per data chunk of that part, offsets
// counted from the 'movi' type code; collected while the part grows and written once,
// right after its 'movi' list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/avi/AviFormat.h"

namespace platform {

class AviOutput;

class AviLegacyIndex {
public:
    // The first part's 'movi' list header lies at moviListOffset.
    void Start(uint64_t moviListOffset) { moviListOffset_ = moviListOffset; }
    // A data chunk whose header lies at headerOffset.
    void Add(uint32_t chunkId, uint64_t headerOffset, uint32_t bytes, bool keyFrame);
    // Size of the 'idx1' chunk, header included, once `more` entries are added.
    uint64_t ChunkBytes(size_t more = 0) const { return 8 + sizeof(avi::Idx1Entry) * (entries_.size() + more); }
    // Appends the 'idx1' chunk to out.
    bool AppendChunk(AviOutput& out) const;

    // Forgets the entries whose chunk does not end by fileEnd (pad byte included).
    void DropChunksPast(uint64_t fileEnd);
    // Forgets the newest entry, if there is one.
    void DropLast();
    // The chunk is in the file: the entries are not needed any more.
    void Release();

private:
    uint64_t ChunkEnd(const avi::Idx1Entry& e) const;

    uint64_t moviListOffset_ = 0;
    std::vector<avi::Idx1Entry> entries_;
};

}  // namespace platform
