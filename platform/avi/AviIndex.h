// One stream's OpenDML index: the entries of the current RIFF part (kept in their
// on-disk form, so an 'ix##' chunk is written straight from them), and the super
// index ('indx') whose entries point at those chunks.
//
// While a part grows, every flush writes an 'ix##' chunk for the entries added since
// the last one and adds it to the super index. So that the super index does not run
// full, the part's entries are now and then written again as one chunk that replaces
// all of the part's super index entries (the older chunks stay in 'movi', unreferenced,
// and readers skip them); a closed part ends with exactly one entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/avi/AviFormat.h"

namespace platform {

class AviOutput;

class AviIndex {
public:
    // What the next 'ix##' chunk holds: entries [from, from + count) of the part.
    struct Plan {
        size_t from = 0;
        size_t count = 0;
        uint32_t duration = 0;
        bool replacesPart = false;  // true: covers the whole part, replaces its super entries
    };

    AviIndex(uint32_t streamNumber, uint32_t chunkId, uint32_t sampleSize, uint32_t capacity);

    // The current part's chunks are addressed from baseOffset (the part's RIFF header).
    void StartPart(uint64_t baseOffset);
    void Add(uint64_t dataOffset, uint32_t size, bool keyFrame);

    size_t PartEntries() const { return entries_.size(); }
    size_t PendingEntries() const { return entries_.size() - pendingFrom_; }
    size_t PartSuperEntries() const { return super_.size() - partSuperFrom_; }
    size_t SuperEntries() const { return super_.size(); }
    uint32_t Capacity() const { return capacity_; }
    uint64_t TotalDuration() const { return closedDuration_ + partDuration_; }
    uint64_t TotalChunks() const { return closedChunks_ + entries_.size(); }
    // Chunks of the first part, also while it is still the current part.
    uint64_t FirstPartChunks() const { return partsStarted_ <= 1 ? entries_.size() : firstPartChunks_; }

    // Flush: the pending entries, or the whole part when the part already has
    // consolidateAfter super entries or the super index is full.
    Plan PlanFlush(size_t consolidateAfter) const;
    // End of part: one chunk for the whole part (empty plan when nothing is missing).
    Plan PlanPartEnd() const;
    static uint32_t ChunkBytes(size_t entries) { return uint32_t(8 + sizeof(avi::StdIndexHeader) + 8 * entries); }

    // Appends the 'ix##' chunk for plan to out.
    bool AppendChunk(AviOutput& out, const Plan& plan) const;
    // Records that the chunk of plan is in the file at chunkOffset.
    void Commit(const Plan& plan, uint64_t chunkOffset);
    // Brings the super index at indxOffset (its chunk header) up to date on disk.
    // The entry count is lowered before entries are replaced and raised after they
    // are written, so the index on disk is valid after every single write.
    bool PatchSuperIndex(AviOutput& out, uint64_t indxOffset);
    // The on-disk 'indx' chunk as first written: header and capacity zeroed entries.
    bool AppendEmptySuperIndex(AviOutput& out) const;
    static uint32_t SuperIndexBytes(uint32_t capacity) { return 8 + sizeof(avi::SuperIndexHeader) + 16 * capacity; }

    // Forgets entries of the current part whose data does not end by fileEnd (they
    // were lost by a failed write). Only entries not yet in a written 'ix##' chunk may go.
    void DropEntriesPast(uint64_t fileEnd);
    // File offset where the current part's last chunk ends (pad byte included), or 0.
    uint64_t LastChunkEnd() const;
    // Drops the current part's last entry (to make room when the disk is full).
    void DropLastEntry();
    size_t CommittedEntries() const { return pendingFrom_; }

private:
    uint32_t EntryDuration(const avi::StdIndexEntry& e) const;

    uint32_t ixId_;
    uint32_t chunkId_;
    uint32_t sampleSize_;
    uint32_t capacity_;
    uint64_t base_ = 0;
    uint32_t partsStarted_ = 0;
    std::vector<avi::StdIndexEntry> entries_;
    size_t pendingFrom_ = 0;
    uint64_t partDuration_ = 0;
    uint64_t durationAtPending_ = 0;
    uint64_t closedDuration_ = 0;
    uint64_t closedChunks_ = 0;
    uint64_t firstPartChunks_ = 0;
    std::vector<avi::SuperIndexEntry> super_;
    size_t partSuperFrom_ = 0;
    size_t onDiskCount_ = 0;  // nEntriesInUse as it is in the file
    size_t dirtyFrom_ = 0;    // first super entry not yet written to the file
};

}  // namespace platform
