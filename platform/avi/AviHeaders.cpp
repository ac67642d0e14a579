#include "platform/avi/AviHeaders.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/avi/AviFormat.h"
#include "platform/avi/AviOutput.h"

namespace platform {

using namespace avi;

namespace {

uint32_t Clamp32(uint64_t value)
{
    return value > UINT32_MAX ? UINT32_MAX : uint32_t(value);
}

int16_t Clamp16(int32_t value)
{
    return int16_t(std::clamp<int32_t>(value, INT16_MIN, INT16_MAX));
}

// The stream whose chunks count as the file's frames: the first video stream, else
// the first stream.
const AviStream::Impl* MainStream(const AviStreamImpls& streams)
{
    for (const auto& s : streams)
        if (s->IsVideo())
            return s.get();
    return streams.empty() ? nullptr : streams.front().get();
}

StreamHeader BuildStreamHeader(const AviStream::Impl& s)
{
    const AviStreamInfo& i = s.info;
    StreamHeader h{};
    h.fccType = i.fccType;
    h.fccHandler = i.fccHandler;
    h.dwFlags = i.dwFlags;
    h.wPriority = i.wPriority;
    h.wLanguage = i.wLanguage;
    h.dwInitialFrames = i.dwInitialFrames;
    h.dwScale = i.dwScale;
    h.dwRate = i.dwRate;
    h.dwStart = i.dwStart;
    h.dwLength = Clamp32(s.Length());
    // A reader must be able to hold the largest chunk, whatever the caller guessed.
    h.dwSuggestedBufferSize = std::max(i.dwSuggestedBufferSize, s.largestChunk);
    h.dwQuality = i.dwQuality;
    h.dwSampleSize = i.dwSampleSize;
    h.rcFrame[0] = Clamp16(i.rcFrame.left);
    h.rcFrame[1] = Clamp16(i.rcFrame.top);
    h.rcFrame[2] = Clamp16(i.rcFrame.right);
    h.rcFrame[3] = Clamp16(i.rcFrame.bottom);
    return h;
}

MainHeader BuildMainHeader(const AviStreamImpls& streams)
{
    MainHeader m{};
    const AviStream::Impl* video = nullptr;
    for (const auto& s : streams)
        if (s->IsVideo()) {
            video = s.get();
            break;
        }
    if (video) {
        const AviStreamInfo& i = video->info;
        m.dwMicroSecPerFrame = Clamp32(uint64_t(std::llround(1e6 * i.dwScale / i.dwRate)));
        m.dwWidth = Clamp32(uint64_t(std::max<int64_t>(0, int64_t(i.rcFrame.right) - i.rcFrame.left)));
        m.dwHeight = Clamp32(uint64_t(std::max<int64_t>(0, int64_t(i.rcFrame.bottom) - i.rcFrame.top)));
    }
    double bytesPerSec = 0;
    for (const auto& s : streams) {
        const double unitsPerSec = double(s->info.dwRate) / s->info.dwScale;
        bytesPerSec += unitsPerSec * (s->CountsSamples() ? s->info.dwSampleSize : s->largestChunk);
        m.dwSuggestedBufferSize = std::max(m.dwSuggestedBufferSize, BuildStreamHeader(*s).dwSuggestedBufferSize);
    }
    m.dwMaxBytesPerSec = Clamp32(uint64_t(std::min(bytesPerSec, double(UINT32_MAX))));
    m.dwFlags = kAvifHasIndex | kAvifIsInterleaved;
    if (const AviStream::Impl* main = MainStream(streams); main && main->index)
        m.dwTotalFrames = Clamp32(main->index->FirstPartChunks());
    m.dwStreams = uint32_t(streams.size());
    return m;
}

}  // namespace

bool AviHeaders::Append(AviOutput& out, AviStreamImpls& streams, uint32_t indexCapacity)
{
    uint32_t hdrlSize = 4 + 8 + sizeof(MainHeader);
    std::vector<uint32_t> strlSizes;
    for (const auto& s : streams) {
        uint32_t strl = 4 + 8 + sizeof(StreamHeader) + 8 + Padded(s->format.size()) +
                        AviIndex::SuperIndexBytes(indexCapacity);
        if (!s->name.empty())
            strl += 8 + Padded(s->name.size() + 1);
        strlSizes.push_back(strl);
        hdrlSize += 8 + strl;
    }
    const uint32_t odmlSize = 4 + 8 + sizeof(OdmlHeader);
    hdrlSize += 8 + odmlSize;

    const ListHeader riff{kRiff, uint32_t(4 + 8 + hdrlSize + sizeof(ListHeader)), kFormAvi};
    const ListHeader hdrl{kList, hdrlSize, kHdrl};
    bool ok = out.Append(&riff, sizeof riff) && out.Append(&hdrl, sizeof hdrl);
    const ChunkHeader avih{kAvih, sizeof(MainHeader)};
    ok = ok && out.Append(&avih, sizeof avih);
    avihOffset_ = out.Position();
    const MainHeader main = BuildMainHeader(streams);
    ok = ok && out.Append(&main, sizeof main);
    for (size_t n = 0; ok && n < streams.size(); ++n) {
        AviStream::Impl& s = *streams[n];
        const ListHeader strl{kList, strlSizes[n], kStrl};
        const ChunkHeader strh{kStrh, sizeof(StreamHeader)};
        ok = out.Append(&strl, sizeof strl) && out.Append(&strh, sizeof strh);
        s.strhOffset = out.Position();
        const StreamHeader header = BuildStreamHeader(s);
        const ChunkHeader strf{kStrf, uint32_t(s.format.size())};
        ok = ok && out.Append(&header, sizeof header) && out.Append(&strf, sizeof strf) &&
             out.Append(s.format.data(), s.format.size()) && out.AppendFill(0, s.format.size() & 1);
        if (!s.name.empty()) {
            const ChunkHeader strn{kStrn, uint32_t(s.name.size() + 1)};
            ok = ok && out.Append(&strn, sizeof strn) && out.Append(s.name.c_str(), s.name.size() + 1) &&
                 out.AppendFill(0, (s.name.size() + 1) & 1);
        }
        s.indxOffset = out.Position();
        ok = ok && s.index->AppendEmptySuperIndex(out);
    }
    const ListHeader odml{kList, odmlSize, kOdml};
    const ChunkHeader dmlh{kDmlh, sizeof(OdmlHeader)};
    ok = ok && out.Append(&odml, sizeof odml) && out.Append(&dmlh, sizeof dmlh);
    dmlhOffset_ = out.Position();
    const OdmlHeader odmlHeader{};
    ok = ok && out.Append(&odmlHeader, sizeof odmlHeader);
    return ok;
}

bool AviHeaders::Patch(AviOutput& out, AviStreamImpls& streams) const
{
    for (const auto& s : streams) {
        const StreamHeader h = BuildStreamHeader(*s);
        if (!out.Patch(s->strhOffset, &h, sizeof h))
            return false;
    }
    const MainHeader m = BuildMainHeader(streams);
    if (!out.Patch(avihOffset_, &m, sizeof m))
        return false;
    const AviStream::Impl* main = MainStream(streams);
    const uint32_t totalFrames = main ? Clamp32(main->index->TotalChunks()) : 0;
    if (!out.Patch(dmlhOffset_, &totalFrames, sizeof totalFrames))
        return false;
    for (const auto& s : streams)
        if (!s->index->PatchSuperIndex(out, s->indxOffset))
            return false;
    return true;
}

}  // namespace platform
