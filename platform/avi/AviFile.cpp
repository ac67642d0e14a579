// File layout:
//
//   RIFF 'AVI '
//     LIST 'hdrl'  avih, one LIST 'strl' per stream (strh, strf, strn when named,
//                  indx with room for Options::indexCapacity entries), LIST 'odml' (dmlh)
//     LIST 'movi'  data chunks '##dc' / '##db' / '##wb', and 'ix##' index chunks
//     idx1         legacy index of the first part, written when that part ends
//   RIFF 'AVIX'    further parts, each one LIST 'movi' with its chunks and 'ix##'
//
// Everything is appended through one buffer. The header is laid out at the first
// write (when every stream and format is known) and written at once; from then on it
// is only patched in place, at flushes: then the pending 'ix##' chunks go into 'movi'
// and strh, avih, dmlh, the super indexes and the RIFF/LIST sizes are rewritten to
// describe the file as it stands, in an order that leaves a readable file after each
// single write. The file offset after such a flush is the "committed end".
//
// This file holds the writer's core (chunks, parts, closing and recovery) and the
// public face. The head records are laid out and patched by AviHeaders, the idx1 of
// the first part is AviLegacyIndex, each stream's OpenDML index is AviIndex, and when
// a flush is due is AviFlushSchedule's call.
#include "platform/avi/AviFile.h"

#include <sys/uio.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/avi/AviFlushSchedule.h"
#include "platform/avi/AviFormat.h"
#include "platform/avi/AviHeaders.h"
#include "platform/avi/AviIndex.h"
#include "platform/avi/AviLegacyIndex.h"
#include "platform/avi/AviOutput.h"
#include "platform/avi/AviStreamImpl.h"

namespace platform {

using namespace avi;

namespace {

constexpr size_t kMaxStreams = 100;  // stream numbers are two decimal digits
constexpr size_t kMaxFormatBytes = 1 << 20;
constexpr size_t kMaxChunkBytes = size_t(1) << 30;
// A part holds at most partSize bytes, or one chunk; both stay below the 4 GB that
// RIFF sizes and the 32-bit offsets of 'ix##' entries can address.
constexpr uint64_t kMaxPartSize = uint64_t(3) << 30;
constexpr uint32_t kMaxIndexCapacity = 1 << 16;
// Mid-part 'ix##' chunks a stream collects before they are rewritten as one.
constexpr size_t kConsolidateAfter = 32;
// Skipped audio becomes silence in chunks of at most this size.
constexpr size_t kSilenceChunkBytes = 1 << 20;

uint32_t StreamChunkId(uint32_t number, char a, char b)
{
    return TAVREC_FOURCC('0' + number / 10, '0' + number % 10, a, b);
}

std::string FourccText(uint32_t code)
{
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const char c = char((code >> (8 * i)) & 0xFF);
        text += (c >= 32 && c < 127) ? c : '?';
    }
    return text;
}

}  // namespace

struct AviFile::Impl {
    std::mutex mutex;
    Options options;
    AviOutput out;
    AviStreamImpls streamImpls;
    std::vector<std::unique_ptr<AviStream>> streams;
    std::vector<AviIndex::Plan> plans;  // one per stream, reused by every flush
    std::vector<uint64_t> planOffsets;
    std::string error;
    std::string failure;  // what made the file fail, repeated to later writes

    bool closed = false;
    bool closeResult = true;
    bool headerWritten = false;
    bool failed = false;  // a write to the disk failed: no more writes, cut back at Close
    bool full = false;    // the index has no room for another part

    AviHeaders headers;
    AviLegacyIndex idx1;  // of the first part only
    AviFlushSchedule flushes;
    uint32_t partNumber = 0;
    uint64_t partStart = 0;
    uint64_t moviListOffset = 0;
    uint64_t firstMoviEnd = 0;  // once the first part is complete
    uint64_t firstRiffEnd = 0;
    bool partHasChunks = false;
    bool partClosed = false;  // the current part is complete, the next not yet begun
    uint64_t committedEnd = 0;

    bool SetError(std::string text)
    {
        error = std::move(text);
        return false;
    }
    bool DiskFailure()
    {
        failed = true;
        failure = out.LastError();
        return SetError(failure);
    }

    bool WriteHeaders();
    bool PatchHeaders();
    uint64_t ClosingOverhead(const AviStream::Impl* adding) const;
    // A chunk of the parts' bytes, or of `bytes` fill bytes when there are no parts.
    bool AppendChunk(AviStream::Impl& s, const iovec* parts, size_t count, uint32_t bytes, bool keyFrame,
                     uint8_t fill);
    bool StartNewPart();
    bool ClosePart();
    bool FlushIndexes();
    bool Write(AviStream::Impl& s, int64_t start, int32_t samples, const iovec* parts, size_t count,
               uint32_t flags);
    bool Close();
    bool Recover();
    void DropChunksPast(uint64_t end);
    bool DropLastChunk();
    uint64_t GoodEnd() const;
    uint64_t ClosingBytes() const;
};

// ---- headers ---------------------------------------------------------------------

bool AviFile::Impl::WriteHeaders()
{
    for (auto& s : streamImpls) {
        if (s->IsVideo()) {
            BitmapInfoHeader bih{};
            std::memcpy(&bih, s->format.data(), std::min(s->format.size(), sizeof bih));
            const bool compressed = s->info.fccHandler != 0 ||
                                    (s->format.size() >= sizeof bih && bih.biCompression != TAVREC_BI_RGB);
            s->chunkId = StreamChunkId(s->number, 'd', compressed ? 'c' : 'b');
        } else {
            s->chunkId = StreamChunkId(s->number, 'w', 'b');
        }
        s->index = std::make_unique<AviIndex>(s->number, s->chunkId, s->info.dwSampleSize, options.indexCapacity);
    }

    out.Truncate(0);
    // Sizes as for an empty 'movi': the file is complete at every moment.
    bool ok = headers.Append(out, streamImpls, options.indexCapacity);
    moviListOffset = out.Position();
    idx1.Start(moviListOffset);
    const ListHeader movi{kList, 4, kMovi};
    ok = ok && out.Append(&movi, sizeof movi);
    // On disk at once, so even a writer killed before its first flush leaves the header.
    if (!ok || !out.Flush())
        return DiskFailure();

    headerWritten = true;
    partNumber = 0;
    partStart = 0;
    partHasChunks = false;
    partClosed = false;
    for (auto& s : streamImpls)
        s->index->StartPart(0);
    flushes.Start(streamImpls.size());
    plans.resize(streamImpls.size());
    planOffsets.resize(streamImpls.size());
    committedEnd = out.Position();
    return true;
}

// The head records, then the sizes of the current part's RIFF and 'movi' lists.
bool AviFile::Impl::PatchHeaders()
{
    if (!headers.Patch(out, streamImpls))
        return false;
    uint64_t moviEnd = out.Position();
    uint64_t riffEnd = moviEnd;
    if (partNumber == 0 && partClosed) {
        moviEnd = firstMoviEnd;
        riffEnd = firstRiffEnd;
    }
    const uint32_t moviSize = uint32_t(moviEnd - moviListOffset - 8);
    const uint32_t riffSize = uint32_t(riffEnd - partStart - 8);
    return out.Patch(moviListOffset + 4, &moviSize, 4) && out.Patch(partStart + 4, &riffSize, 4);
}

// ---- parts and flushes -------------------------------------------------------------

// Bytes the current part still needs to end after one more chunk of adding: its
// flush and final 'ix##' chunks (counted as if each held the whole part) and, in the
// first part, idx1.
uint64_t AviFile::Impl::ClosingOverhead(const AviStream::Impl* adding) const
{
    uint64_t bytes = 0;
    for (const auto& s : streamImpls) {
        const size_t n = s->index->PartEntries() + (s.get() == adding ? 1 : 0);
        if (n)
            bytes += 2 * uint64_t(AviIndex::ChunkBytes(n));
    }
    if (partNumber == 0)
        bytes += idx1.ChunkBytes(1);
    return bytes;
}

bool AviFile::Impl::AppendChunk(AviStream::Impl& s, const iovec* parts, size_t count, uint32_t bytes,
                                bool keyFrame, uint8_t fill)
{
    const uint64_t need = 8 + Padded(bytes) + ClosingOverhead(&s);
    if (partHasChunks && out.Position() + need - partStart > options.partSize && !StartNewPart())
        return false;
    const uint64_t headerOffset = out.Position();
    const ChunkHeader header{s.chunkId, bytes};
    bool ok = out.Append(&header, sizeof header);
    ok = ok && (count ? out.Append(parts, count, bytes) : out.AppendFill(fill, bytes));
    ok = ok && out.AppendFill(0, bytes & 1);
    if (!ok)
        return DiskFailure();
    s.index->Add(headerOffset + 8, bytes, keyFrame);
    if (partNumber == 0)
        idx1.Add(s.chunkId, headerOffset, bytes, keyFrame);
    s.largestChunk = std::max(s.largestChunk, bytes);
    partHasChunks = true;
    return true;
}

bool AviFile::Impl::ClosePart()
{
    for (size_t n = 0; n < streamImpls.size(); ++n) {
        plans[n] = streamImpls[n]->index->PlanPartEnd();
        planOffsets[n] = out.Position();
        if (plans[n].count && !streamImpls[n]->index->AppendChunk(out, plans[n]))
            return DiskFailure();
    }
    const uint64_t moviEnd = out.Position();
    if (partNumber == 0 && !idx1.AppendChunk(out))
        return DiskFailure();
    if (!out.Flush())
        return DiskFailure();
    for (size_t n = 0; n < streamImpls.size(); ++n)
        streamImpls[n]->index->Commit(plans[n], planOffsets[n]);
    if (partNumber == 0) {
        firstMoviEnd = moviEnd;
        firstRiffEnd = out.Position();
    }
    partClosed = true;
    if (!PatchHeaders())
        return DiskFailure();
    committedEnd = out.Position();
    flushes.Done(streamImpls);
    if (partNumber == 0)
        idx1.Release();
    return true;
}

bool AviFile::Impl::StartNewPart()
{
    if (partNumber + 1 >= options.indexCapacity) {
        full = true;
        return SetError("the file is as large as its index can describe (" + std::to_string(partNumber + 1) +
                        " parts of up to " + std::to_string(options.partSize) + " bytes)");
    }
    if (!partClosed && !ClosePart())
        return false;
    const uint64_t start = out.Position();
    const ListHeader riff{kRiff, 4 + sizeof(ListHeader), kFormAvix};
    const ListHeader movi{kList, 4, kMovi};
    if (!out.Append(&riff, sizeof riff) || !out.Append(&movi, sizeof movi) || !out.Flush())
        return DiskFailure();
    ++partNumber;
    partStart = start;
    moviListOffset = start + sizeof(ListHeader);
    partHasChunks = false;
    partClosed = false;
    for (auto& s : streamImpls)
        s->index->StartPart(start);
    committedEnd = out.Position();
    return true;
}

bool AviFile::Impl::FlushIndexes()
{
    for (size_t n = 0; n < streamImpls.size(); ++n) {
        plans[n] = streamImpls[n]->index->PlanFlush(kConsolidateAfter);
        planOffsets[n] = out.Position();
        if (plans[n].count && !streamImpls[n]->index->AppendChunk(out, plans[n]))
            return DiskFailure();
    }
    if (!out.Flush())
        return DiskFailure();
    for (size_t n = 0; n < streamImpls.size(); ++n)
        streamImpls[n]->index->Commit(plans[n], planOffsets[n]);
    if (!PatchHeaders())
        return DiskFailure();
    committedEnd = out.Position();
    flushes.Done(streamImpls);
    return true;
}

// ---- writing -------------------------------------------------------------------------

bool AviFile::Impl::Write(AviStream::Impl& s, int64_t start, int32_t samples, const iovec* parts, size_t count,
                          uint32_t flags)
{
    size_t bytes = 0;
    bool missing = false;
    for (size_t p = 0; p < count; ++p) {
        bytes += parts[p].iov_len;
        missing = missing || (parts[p].iov_len && !parts[p].iov_base);
    }
    auto which = [&s] { return "stream " + std::to_string(s.number); };
    if (closed)
        return SetError("the file is closed");
    if (s.released)
        return SetError(which() + " was released");
    if (failed)
        return SetError(failure);
    if (full)
        return SetError("the file is as large as its index can describe");
    if (start < 0)
        return SetError(which() + ": position " + std::to_string(start) + " is negative");
    if (samples <= 0)
        return SetError(which() + ": a write holds at least one sample");
    if (missing)
        return SetError(which() + ": no data for " + std::to_string(bytes) + " bytes");
    if (bytes > kMaxChunkBytes)
        return SetError(which() + ": a chunk of " + std::to_string(bytes) + " bytes is too large");
    if (s.CountsSamples() && bytes != uint64_t(samples) * s.info.dwSampleSize)
        return SetError(which() + ": " + std::to_string(bytes) + " bytes are not " + std::to_string(samples) +
                        " samples of " + std::to_string(s.info.dwSampleSize) + " bytes");
    if (!headerWritten) {
        for (const auto& other : streamImpls)
            if (other->format.empty())
                return SetError("stream " + std::to_string(other->number) + " has no format yet");
        if (!WriteHeaders())
            return false;
    }
    const int64_t end = s.End();
    if (start < end)
        return SetError(which() + ": position " + std::to_string(start) + " is already written (the stream has " +
                        std::to_string(end) + " positions)");

    // Positions skipped over: empty chunks for frames (dropped frames keep the timeline),
    // silence for streams of fixed-size samples. A gap larger than the whole file can
    // hold is refused before anything is written (it would only fill the disk).
    const uint64_t skipped = uint64_t(start - end);
    const uint64_t bytesPerSkipped = s.CountsSamples() ? s.info.dwSampleSize : sizeof(ChunkHeader);
    if (skipped > options.partSize * options.indexCapacity / bytesPerSkipped)
        return SetError(which() + ": position " + std::to_string(start) + " lies " + std::to_string(skipped) +
                        " positions past the stream's end, more than the file can hold");
    if (s.CountsSamples()) {
        uint64_t gap = skipped * s.info.dwSampleSize;
        const uint64_t step = std::max<uint64_t>(s.info.dwSampleSize,
                                                 kSilenceChunkBytes / s.info.dwSampleSize * s.info.dwSampleSize);
        while (gap > 0) {
            const uint32_t piece = uint32_t(std::min(gap, step));
            if (!AppendChunk(s, nullptr, 0, piece, true, s.SilenceByte()))
                return false;
            gap -= piece;
        }
    } else {
        for (int64_t p = end; p < start; ++p)
            if (!AppendChunk(s, nullptr, 0, 0, false, 0))
                return false;
    }
    // Every chunk of fixed-size samples is a sync point; frames say so in flags.
    const bool key = bytes > 0 && (s.CountsSamples() || (flags & TAVREC_AVIIF_KEYFRAME));
    if (!AppendChunk(s, parts, bytes ? count : 0, uint32_t(bytes), key, 0))
        return false;
    // A frame written for several positions holds them with empty chunks after it.
    if (!s.CountsSamples())
        for (int32_t k = 1; k < samples; ++k)
            if (!AppendChunk(s, nullptr, 0, 0, false, 0))
                return false;
    if (flushes.Due(streamImpls))
        return FlushIndexes();
    return true;
}

// ---- closing and recovery ------------------------------------------------------------

bool AviFile::Impl::Close()
{
    if (closed)
        return closeResult;
    closed = true;
    bool ok = !failed;
    if (ok && !headerWritten)
        ok = WriteHeaders();
    if (ok && !partClosed)
        ok = ClosePart();
    if (!ok)
        ok = Recover();
    if (!out.Close() && ok)
        ok = SetError(out.LastError());
    closeResult = ok;
    return ok;
}

void AviFile::Impl::DropChunksPast(uint64_t end)
{
    for (auto& s : streamImpls)
        s->index->DropEntriesPast(end);
    if (partNumber == 0)
        idx1.DropChunksPast(end);
}

// Drops the newest chunk written since the last flush; false when there is none.
bool AviFile::Impl::DropLastChunk()
{
    AviStream::Impl* newest = nullptr;
    for (auto& s : streamImpls)
        if (s->index->PendingEntries() && s->index->LastChunkEnd() > committedEnd &&
            (!newest || s->index->LastChunkEnd() > newest->index->LastChunkEnd()))
            newest = s.get();
    if (!newest)
        return false;
    newest->index->DropLastEntry();
    if (partNumber == 0)
        idx1.DropLast();
    return true;
}

uint64_t AviFile::Impl::GoodEnd() const
{
    uint64_t end = committedEnd;
    for (const auto& s : streamImpls)
        end = std::max(end, s->index->LastChunkEnd());
    return end;
}

uint64_t AviFile::Impl::ClosingBytes() const
{
    uint64_t bytes = 0;
    for (const auto& s : streamImpls) {
        const AviIndex::Plan plan = s->index->PlanPartEnd();
        if (plan.count)
            bytes += AviIndex::ChunkBytes(plan.count);
    }
    if (partNumber == 0)
        bytes += idx1.ChunkBytes();
    return bytes;
}

// After a failed write: keeps every chunk that reached the disk whole, cuts off the
// rest and completes the file. When the closing indexes do not fit (disk full), the
// newest chunks give up their room; failing that, the file is cut back to the last
// flush, which its headers on disk describe already.
bool AviFile::Impl::Recover()
{
    const std::string cause = failure;
    auto restoreCause = [&](bool result) {
        failed = true;
        failure = cause;
        error = cause;
        return result;
    };
    failed = false;
    if (!headerWritten) {
        if (WriteHeaders() && ClosePart())
            return restoreCause(true);
        out.Truncate(0);
        return restoreCause(false);
    }
    if (partClosed) {
        out.Truncate(committedEnd);
        return restoreCause(true);
    }
    DropChunksPast(out.DiskEnd());
    for (int attempt = 0; attempt < 3; ++attempt) {
        const uint64_t good = GoodEnd();
        if (!out.Truncate(good))
            break;
        if (ClosePart())
            return restoreCause(true);
        failed = false;
        const uint64_t need = ClosingBytes();
        bool dropped = false;
        while (GoodEnd() + need > good && DropLastChunk())
            dropped = true;
        if (!dropped)
            break;
    }
    out.Truncate(committedEnd);
    restoreCause(false);
    error = cause + "; the file could not be completed and holds what was written up to its last update";
    return false;
}

// ---- public face ---------------------------------------------------------------------

bool AviStream::SetFormat(int64_t position, const void* format, size_t size)
{
    AviFile::Impl& f = *impl_->file;
    std::lock_guard lock(f.mutex);
    const std::string which = "stream " + std::to_string(impl_->number);
    if (f.closed)
        return f.SetError("the file is closed");
    if (position != 0)
        return f.SetError(which + ": a format is set at position 0 only, not " + std::to_string(position));
    if (!format || size == 0)
        return f.SetError(which + ": the format is empty");
    if (size > kMaxFormatBytes)
        return f.SetError(which + ": a format of " + std::to_string(size) + " bytes is too large");
    if (f.headerWritten)
        return f.SetError(which + ": the format cannot change after the first write");
    const auto* bytes = static_cast<const uint8_t*>(format);
    impl_->format.assign(bytes, bytes + size);
    return true;
}

bool AviStream::Write(int64_t start, int32_t samples, const void* data, size_t bytes, uint32_t flags)
{
    AviFile::Impl& f = *impl_->file;
    std::lock_guard lock(f.mutex);
    const iovec part{const_cast<void*>(data), bytes};
    return f.Write(*impl_, start, samples, &part, 1, flags);
}

bool AviStream::Write(int64_t start, int32_t samples, const iovec* parts, size_t count, uint32_t flags)
{
    AviFile::Impl& f = *impl_->file;
    std::lock_guard lock(f.mutex);
    return f.Write(*impl_, start, samples, parts, count, flags);
}

void AviStream::Release()
{
    std::lock_guard lock(impl_->file->mutex);
    impl_->released = true;
}

AviStream::AviStream(Impl* impl) : impl_(impl) {}

std::unique_ptr<AviFile> AviFile::Create(const std::string& path, std::string* error)
{
    return Create(path, Options{}, error);
}

std::unique_ptr<AviFile> AviFile::Create(const std::string& path, const Options& options, std::string* error)
{
    auto fail = [&](const std::string& text) {
        if (error)
            *error = text;
        return nullptr;
    };
    if (options.partSize == 0 || options.partSize > kMaxPartSize)
        return fail("partSize must be between 1 and " + std::to_string(kMaxPartSize) + " bytes");
    if (options.indexCapacity == 0 || options.indexCapacity > kMaxIndexCapacity)
        return fail("indexCapacity must be between 1 and " + std::to_string(kMaxIndexCapacity));
    auto impl = std::make_unique<Impl>();
    impl->options = options;
    impl->flushes = AviFlushSchedule(options.flushIntervalMs);
    if (!impl->out.Open(path))
        return fail(impl->out.LastError());
    return std::unique_ptr<AviFile>(new AviFile(std::move(impl)));
}

AviFile::AviFile(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

AviFile::~AviFile()
{
    Close();
}

AviStream* AviFile::CreateStream(const AviStreamInfo& info)
{
    std::lock_guard lock(impl_->mutex);
    Impl& f = *impl_;
    if (f.closed) {
        f.SetError("the file is closed");
        return nullptr;
    }
    if (f.headerWritten) {
        f.SetError("streams must all be created before the first write");
        return nullptr;
    }
    if (info.fccType != kStreamTypeVideo && info.fccType != kStreamTypeAudio) {
        f.SetError("unsupported stream type '" + FourccText(info.fccType) + "'");
        return nullptr;
    }
    if (info.dwScale == 0 || info.dwRate == 0) {
        f.SetError("a stream needs a non-zero dwScale and dwRate");
        return nullptr;
    }
    if (f.streamImpls.size() >= kMaxStreams) {
        f.SetError("a file holds at most " + std::to_string(kMaxStreams) + " streams");
        return nullptr;
    }
    auto s = std::make_unique<AviStream::Impl>();
    s->file = &f;
    s->number = uint32_t(f.streamImpls.size());
    s->info = info;
    s->name.assign(info.szName, strnlen(info.szName, sizeof info.szName));
    f.streams.push_back(std::make_unique<AviStream>(s.get()));
    f.streamImpls.push_back(std::move(s));
    return f.streams.back().get();
}

bool AviFile::Close()
{
    std::lock_guard lock(impl_->mutex);
    return impl_->Close();
}

const std::string& AviFile::LastError() const
{
    // A copy per thread: another writer thread may replace the text meanwhile.
    thread_local std::string copy;
    std::lock_guard lock(impl_->mutex);
    copy = impl_->error;
    return copy;
}

}  // namespace platform
