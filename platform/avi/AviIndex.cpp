#include "platform/avi/AviIndex.h"

#include <algorithm>
#include <cstddef>

#include "platform/avi/AviOutput.h"

namespace platform {

using namespace avi;

AviIndex::AviIndex(uint32_t streamNumber, uint32_t chunkId, uint32_t sampleSize, uint32_t capacity)
    : ixId_(TAVREC_FOURCC('i', 'x', '0' + streamNumber / 10, '0' + streamNumber % 10)),
      chunkId_(chunkId),
      sampleSize_(sampleSize),
      capacity_(capacity)
{
}

void AviIndex::StartPart(uint64_t baseOffset)
{
    if (partsStarted_ > 0) {
        if (partsStarted_ == 1)
            firstPartChunks_ = entries_.size();
        closedChunks_ += entries_.size();
        closedDuration_ += partDuration_;
    }
    ++partsStarted_;
    entries_.clear();  // keeps its storage for the next part
    pendingFrom_ = 0;
    partDuration_ = durationAtPending_ = 0;
    partSuperFrom_ = super_.size();
    base_ = baseOffset;
}

uint32_t AviIndex::EntryDuration(const StdIndexEntry& e) const
{
    return sampleSize_ ? (e.dwSize & ~kStdIndexDeltaFrame) / sampleSize_ : 1;
}

void AviIndex::Add(uint64_t dataOffset, uint32_t size, bool keyFrame)
{
    const StdIndexEntry e{uint32_t(dataOffset - base_), size | (keyFrame ? 0 : kStdIndexDeltaFrame)};
    entries_.push_back(e);
    partDuration_ += EntryDuration(e);
}

AviIndex::Plan AviIndex::PlanFlush(size_t consolidateAfter) const
{
    Plan plan;
    if (PendingEntries() == 0)
        return plan;
    if (PartSuperEntries() >= consolidateAfter || super_.size() >= capacity_) {
        plan.count = entries_.size();
        plan.duration = uint32_t(partDuration_);
        plan.replacesPart = true;
    } else {
        plan.from = pendingFrom_;
        plan.count = PendingEntries();
        plan.duration = uint32_t(partDuration_ - durationAtPending_);
    }
    return plan;
}

AviIndex::Plan AviIndex::PlanPartEnd() const
{
    Plan plan;
    if (entries_.empty() || (PartSuperEntries() == 1 && PendingEntries() == 0))
        return plan;
    plan.count = entries_.size();
    plan.duration = uint32_t(partDuration_);
    plan.replacesPart = true;
    return plan;
}

bool AviIndex::AppendChunk(AviOutput& out, const Plan& plan) const
{
    const ChunkHeader chunk{ixId_, ChunkBytes(plan.count) - 8};
    const StdIndexHeader header{2, 0, kIndexOfChunks, uint32_t(plan.count), chunkId_, base_, 0};
    return out.Append(&chunk, sizeof chunk) && out.Append(&header, sizeof header) &&
           out.Append(entries_.data() + plan.from, plan.count * sizeof(StdIndexEntry));
}

void AviIndex::Commit(const Plan& plan, uint64_t chunkOffset)
{
    if (plan.count == 0)
        return;
    if (plan.replacesPart) {
        super_.resize(partSuperFrom_);
        dirtyFrom_ = std::min(dirtyFrom_, partSuperFrom_);
    } else {
        dirtyFrom_ = std::min(dirtyFrom_, super_.size());
    }
    super_.push_back({chunkOffset, ChunkBytes(plan.count), plan.duration});
    pendingFrom_ = plan.from + plan.count;
    durationAtPending_ = partDuration_;
}

bool AviIndex::PatchSuperIndex(AviOutput& out, uint64_t indxOffset)
{
    const uint64_t countOffset = indxOffset + 8 + offsetof(SuperIndexHeader, nEntriesInUse);
    const uint64_t entriesOffset = indxOffset + 8 + sizeof(SuperIndexHeader);
    if (dirtyFrom_ >= super_.size() && onDiskCount_ == super_.size())
        return true;
    if (dirtyFrom_ < onDiskCount_) {
        const uint32_t lowered = uint32_t(dirtyFrom_);
        if (!out.Patch(countOffset, &lowered, sizeof lowered))
            return false;
        onDiskCount_ = dirtyFrom_;
    }
    if (dirtyFrom_ < super_.size() &&
        !out.Patch(entriesOffset + sizeof(SuperIndexEntry) * dirtyFrom_, super_.data() + dirtyFrom_,
                   sizeof(SuperIndexEntry) * (super_.size() - dirtyFrom_)))
        return false;
    const uint32_t count = uint32_t(super_.size());
    if (!out.Patch(countOffset, &count, sizeof count))
        return false;
    onDiskCount_ = dirtyFrom_ = super_.size();
    return true;
}

bool AviIndex::AppendEmptySuperIndex(AviOutput& out) const
{
    const ChunkHeader chunk{kIndx, SuperIndexBytes(capacity_) - 8};
    const SuperIndexHeader header{4, 0, kIndexOfIndexes, 0, chunkId_, {0, 0, 0}};
    return out.Append(&chunk, sizeof chunk) && out.Append(&header, sizeof header) &&
           out.AppendFill(0, sizeof(SuperIndexEntry) * capacity_);
}

uint64_t AviIndex::LastChunkEnd() const
{
    if (entries_.empty())
        return 0;
    const StdIndexEntry& e = entries_.back();
    const uint32_t size = e.dwSize & ~kStdIndexDeltaFrame;
    return base_ + e.dwOffset + size + (size & 1);
}

void AviIndex::DropLastEntry()
{
    if (entries_.size() > pendingFrom_) {
        partDuration_ -= EntryDuration(entries_.back());
        entries_.pop_back();
    }
}

void AviIndex::DropEntriesPast(uint64_t fileEnd)
{
    while (entries_.size() > pendingFrom_ && LastChunkEnd() > fileEnd)
        DropLastEntry();
}

}  // namespace platform
