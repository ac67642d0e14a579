#include "tests/support/RiffReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace testsupport {

namespace {

uint16_t U16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t U32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint64_t U64(const uint8_t* p) { return uint64_t(U32(p)) | uint64_t(U32(p + 4)) << 32; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Stream number of '##xx' chunk ids, -1 for others.
int StreamOf(uint32_t id)
{
    const char a = char(id & 0xFF), b = char((id >> 8) & 0xFF);
    return IsDigit(a) && IsDigit(b) ? (a - '0') * 10 + (b - '0') : -1;
}

bool IsStandardIndexId(uint32_t id)
{
    return (id & 0xFF) == 'i' && ((id >> 8) & 0xFF) == 'x' && StreamOf(id >> 16) >= 0;
}

}  // namespace

std::string FourccText(uint32_t code)
{
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const char c = char((code >> (8 * i)) & 0xFF);
        if (c >= 32 && c < 127) {
            text += c;
        } else {
            static const char hex[] = "0123456789abcdef";
            text += "\\x";
            text += hex[(c >> 4) & 0xF];
            text += hex[c & 0xF];
        }
    }
    return text;
}

RiffReader::~RiffReader()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool RiffReader::Fail(const std::string& text)
{
    error_ = path_ + ": " + text;
    return false;
}

bool RiffReader::ReadAt(uint64_t offset, void* data, size_t size) const
{
    auto* bytes = static_cast<uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::pread(fd_, bytes, size, off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        offset += uint64_t(n);
        size -= size_t(n);
    }
    return true;
}

bool RiffReader::ReadBytes(uint64_t offset, size_t size, std::vector<uint8_t>* data) const
{
    data->resize(size);
    return size == 0 || ReadAt(offset, data->data(), size);
}

bool RiffReader::ReadData(const AviDataChunk& chunk, std::vector<uint8_t>* data) const
{
    return ReadBytes(chunk.offset + 8, chunk.size, data);
}

bool RiffReader::ReadHeader(uint64_t offset, uint64_t limit, RiffChunk* chunk, const char* where)
{
    uint8_t h[12];
    if (offset + 8 > limit)
        return Fail(std::string("chunk header at ") + std::to_string(offset) + " runs past the end of " + where);
    if (!ReadAt(offset, h, 8))
        return Fail("cannot read at " + std::to_string(offset));
    chunk->id = U32(h);
    chunk->size = U32(h + 4);
    chunk->offset = offset;
    chunk->listType = 0;
    if (offset + 8 + chunk->size > limit)
        return Fail("chunk '" + FourccText(chunk->id) + "' at " + std::to_string(offset) + " of " +
                    std::to_string(chunk->size) + " bytes runs past the end of " + where);
    if (chunk->id == Fourcc("RIFF") || chunk->id == Fourcc("LIST")) {
        if (chunk->size < 4)
            return Fail("list at " + std::to_string(offset) + " is shorter than its type");
        if (!ReadAt(offset + 8, h + 8, 4))
            return Fail("cannot read at " + std::to_string(offset + 8));
        chunk->listType = U32(h + 8);
    }
    return true;
}

bool RiffReader::ReadChildren(const RiffChunk& list, std::vector<RiffChunk>* children, const char* where)
{
    const uint64_t end = list.offset + 8 + list.size;
    uint64_t at = list.offset + 12;
    children->clear();
    while (at < end) {
        RiffChunk child;
        if (!ReadHeader(at, end, &child, where))
            return false;
        children->push_back(child);
        at = child.End();
    }
    return true;
}

void RiffReader::Reset()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    error_.clear();
    fileSize_ = partsEnd_ = 0;
    parts_.clear();
    hdrl_ = {};
    hdrlChildren_.clear();
    main_ = {};
    streams_.clear();
    hasOdml_ = false;
    odmlTotalFrames_ = 0;
    dmlhRaw_.clear();
    chunks_.clear();
    moviIndexes_.clear();
    hasIdx1_ = false;
    idx1Chunk_ = {};
    idx1_.clear();
}

bool RiffReader::Open(const std::string& path)
{
    Reset();
    path_ = path;
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0)
        return Fail("cannot open: " + std::generic_category().message(errno));
    struct stat st{};
    if (::fstat(fd_, &st) != 0)
        return Fail("cannot stat: " + std::generic_category().message(errno));
    fileSize_ = uint64_t(st.st_size);

    uint64_t at = 0;
    while (at + 12 <= fileSize_) {
        uint8_t id[4];
        if (!ReadAt(at, id, 4))
            return Fail("cannot read at " + std::to_string(at));
        if (U32(id) != Fourcc("RIFF"))
            break;  // whatever follows the last part
        if (!ParsePart(at))
            return false;
        at = parts_.back().riff.End();
    }
    partsEnd_ = std::min(at, fileSize_);
    if (parts_.empty())
        return Fail("no RIFF part at the start of the file");
    if (!hdrl_.id)
        return Fail("no 'hdrl' list in the first part");
    return true;
}

bool RiffReader::ParsePart(uint64_t offset)
{
    AviPart part;
    if (!ReadHeader(offset, fileSize_, &part.riff, "the file"))
        return false;
    const bool first = parts_.empty();
    const uint32_t form = first ? Fourcc("AVI ") : Fourcc("AVIX");
    if (part.riff.listType != form)
        return Fail("part " + std::to_string(parts_.size()) + " at " + std::to_string(offset) + " has form '" +
                    FourccText(part.riff.listType) + "', expected '" + FourccText(form) + "'");
    if (!ReadChildren(part.riff, &part.children, "its RIFF part"))
        return false;
    const size_t index = parts_.size();
    parts_.push_back(part);
    AviPart& p = parts_.back();
    p.firstChunk = chunks_.size();
    for (const RiffChunk& child : p.children) {
        if (child.id == Fourcc("LIST") && child.listType == Fourcc("hdrl")) {
            if (!first)
                return Fail("'hdrl' outside the first part");
            if (!ParseHdrl(child))
                return false;
        } else if (child.id == Fourcc("LIST") && child.listType == Fourcc("movi")) {
            if (p.movi.id)
                return Fail("two 'movi' lists in part " + std::to_string(index));
            p.movi = child;
            if (!ParseMovi(child, index))
                return false;
        } else if (child.id == Fourcc("idx1")) {
            if (!first)
                return Fail("'idx1' outside the first part");
            if (!ParseIdx1(child))
                return false;
        }
    }
    if (!p.movi.id)
        return Fail("part " + std::to_string(index) + " has no 'movi' list");
    p.chunkCount = chunks_.size() - p.firstChunk;
    return true;
}

bool RiffReader::ParseHdrl(const RiffChunk& hdrl)
{
    hdrl_ = hdrl;
    if (!ReadChildren(hdrl, &hdrlChildren_, "'hdrl'"))
        return false;
    bool haveMain = false;
    for (const RiffChunk& c : hdrlChildren_) {
        if (c.id == Fourcc("avih")) {
            if (c.size < 56)
                return Fail("'avih' of " + std::to_string(c.size) + " bytes");
            if (!ReadBytes(c.DataOffset(), c.size, &main_.raw))
                return Fail("cannot read 'avih'");
            const uint8_t* p = main_.raw.data();
            main_.microSecPerFrame = U32(p);
            main_.maxBytesPerSec = U32(p + 4);
            main_.paddingGranularity = U32(p + 8);
            main_.flags = U32(p + 12);
            main_.totalFrames = U32(p + 16);
            main_.initialFrames = U32(p + 20);
            main_.streams = U32(p + 24);
            main_.suggestedBufferSize = U32(p + 28);
            main_.width = U32(p + 32);
            main_.height = U32(p + 36);
            for (int i = 0; i < 4; ++i)
                main_.reserved[i] = U32(p + 40 + 4 * i);
            haveMain = true;
        } else if (c.id == Fourcc("LIST") && c.listType == Fourcc("strl")) {
            if (!ParseStrl(c))
                return false;
        } else if (c.id == Fourcc("LIST") && c.listType == Fourcc("odml")) {
            std::vector<RiffChunk> odml;
            if (!ReadChildren(c, &odml, "'odml'"))
                return false;
            for (const RiffChunk& d : odml)
                if (d.id == Fourcc("dmlh")) {
                    if (d.size < 4 || !ReadBytes(d.DataOffset(), d.size, &dmlhRaw_))
                        return Fail("bad 'dmlh'");
                    hasOdml_ = true;
                    odmlTotalFrames_ = U32(dmlhRaw_.data());
                }
        }
    }
    if (!haveMain)
        return Fail("no 'avih' in 'hdrl'");
    return true;
}

bool RiffReader::ParseStrl(const RiffChunk& strl)
{
    AviStreamList s;
    s.list = strl;
    if (!ReadChildren(strl, &s.children, "'strl'"))
        return false;
    bool haveHeader = false;
    for (const RiffChunk& c : s.children) {
        if (c.id == Fourcc("strh")) {
            if (c.size < 56)
                return Fail("'strh' of " + std::to_string(c.size) + " bytes");
            AviStreamHeaderFields& h = s.header;
            if (!ReadBytes(c.DataOffset(), c.size, &h.raw))
                return Fail("cannot read 'strh'");
            const uint8_t* p = h.raw.data();
            h.type = U32(p);
            h.handler = U32(p + 4);
            h.flags = U32(p + 8);
            h.priority = U16(p + 12);
            h.language = U16(p + 14);
            h.initialFrames = U32(p + 16);
            h.scale = U32(p + 20);
            h.rate = U32(p + 24);
            h.start = U32(p + 28);
            h.length = U32(p + 32);
            h.suggestedBufferSize = U32(p + 36);
            h.quality = U32(p + 40);
            h.sampleSize = U32(p + 44);
            for (int i = 0; i < 4; ++i)
                h.frame[i] = int16_t(U16(p + 48 + 2 * i));
            haveHeader = true;
        } else if (c.id == Fourcc("strf")) {
            if (!ReadBytes(c.DataOffset(), c.size, &s.format))
                return Fail("cannot read 'strf'");
        } else if (c.id == Fourcc("strn")) {
            if (!ReadBytes(c.DataOffset(), c.size, &s.nameRaw))
                return Fail("cannot read 'strn'");
            s.hasName = true;
            s.name.assign(reinterpret_cast<const char*>(s.nameRaw.data()),
                          strnlen(reinterpret_cast<const char*>(s.nameRaw.data()), s.nameRaw.size()));
        } else if (c.id == Fourcc("indx")) {
            if (!ParseSuperIndex(c, &s.superIndex))
                return false;
            s.hasSuperIndex = true;
        }
    }
    if (!haveHeader)
        return Fail("stream " + std::to_string(streams_.size()) + " has no 'strh'");
    streams_.push_back(std::move(s));
    return true;
}

bool RiffReader::ParseSuperIndex(const RiffChunk& c, AviSuperIndex* x)
{
    std::vector<uint8_t> head;
    if (c.size < 24 || !ReadBytes(c.DataOffset(), 24, &head))
        return Fail("'indx' at " + std::to_string(c.offset) + " is too short");
    x->chunk = c;
    x->longsPerEntry = U16(head.data());
    x->subType = head[2];
    x->type = head[3];
    x->entriesInUse = U32(&head[4]);
    x->chunkId = U32(&head[8]);
    for (int i = 0; i < 3; ++i)
        x->reserved[i] = U32(&head[12 + 4 * i]);
    if (x->longsPerEntry != 4 || x->type != 0)
        return Fail("'indx' at " + std::to_string(c.offset) + " is not an index of indexes");
    x->capacity = (c.size - 24) / 16;
    if (x->entriesInUse > x->capacity)
        return Fail("'indx' at " + std::to_string(c.offset) + " uses " + std::to_string(x->entriesInUse) +
                    " entries but has room for " + std::to_string(x->capacity));
    std::vector<uint8_t> raw;
    if (!ReadBytes(c.DataOffset() + 24, size_t(x->entriesInUse) * 16, &raw))
        return Fail("cannot read 'indx' entries");
    for (uint32_t i = 0; i < x->entriesInUse; ++i) {
        AviSuperIndex::Entry e{U64(&raw[16 * i]), U32(&raw[16 * i + 8]), U32(&raw[16 * i + 12])};
        x->entries.push_back(e);
        RiffChunk target;
        if (!ReadHeader(e.offset, fileSize_, &target, "the file"))
            return false;
        if (!IsStandardIndexId(target.id) || uint64_t(target.size) + 8 != e.size)
            return Fail("'indx' entry " + std::to_string(i) + " points at '" + FourccText(target.id) + "' of " +
                        std::to_string(target.size) + " bytes at " + std::to_string(e.offset) +
                        ", not at an index chunk of " + std::to_string(e.size) + " bytes");
        AviStandardIndex ix;
        if (!ParseStandardIndex(target, &ix))
            return false;
        x->targets.push_back(std::move(ix));
    }
    return true;
}

bool RiffReader::ParseStandardIndex(const RiffChunk& c, AviStandardIndex* x)
{
    std::vector<uint8_t> data;
    if (c.size < 24 || !ReadBytes(c.DataOffset(), c.size, &data))
        return Fail("index chunk at " + std::to_string(c.offset) + " is too short");
    x->chunk = c;
    x->longsPerEntry = U16(data.data());
    x->subType = data[2];
    x->type = data[3];
    x->entriesInUse = U32(&data[4]);
    x->chunkId = U32(&data[8]);
    x->baseOffset = U64(&data[12]);
    x->reserved = U32(&data[20]);
    if (x->longsPerEntry != 2 || x->type != 1)
        return Fail("index chunk at " + std::to_string(c.offset) + " is not an index of chunks");
    if (24 + uint64_t(x->entriesInUse) * 8 > c.size)
        return Fail("index chunk at " + std::to_string(c.offset) + " holds fewer than its " +
                    std::to_string(x->entriesInUse) + " entries");
    x->entries.resize(x->entriesInUse);
    for (uint32_t i = 0; i < x->entriesInUse; ++i)
        x->entries[i] = {U32(&data[24 + 8 * i]), U32(&data[28 + 8 * i])};
    return true;
}

bool RiffReader::ParseMovi(const RiffChunk& list, size_t part)
{
    std::vector<RiffChunk> children;
    if (!ReadChildren(list, &children, "'movi'"))
        return false;
    for (const RiffChunk& c : children) {
        if (c.id == Fourcc("LIST")) {
            if (!ParseMovi(c, part))  // 'rec ' groups
                return false;
        } else if (IsStandardIndexId(c.id)) {
            AviStandardIndex ix;
            if (!ParseStandardIndex(c, &ix))
                return false;
            moviIndexes_.push_back(std::move(ix));
        } else if (c.id != Fourcc("JUNK")) {
            chunks_.push_back({c.id, c.size, c.offset, StreamOf(c.id), part});
        }
    }
    return true;
}

bool RiffReader::ParseIdx1(const RiffChunk& c)
{
    std::vector<uint8_t> raw;
    if (!ReadBytes(c.DataOffset(), c.size, &raw))
        return Fail("cannot read 'idx1'");
    if (c.size % 16 != 0)
        return Fail("'idx1' of " + std::to_string(c.size) + " bytes is not whole entries");
    hasIdx1_ = true;
    idx1Chunk_ = c;
    for (size_t i = 0; i + 16 <= raw.size(); i += 16)
        idx1_.push_back({U32(&raw[i]), U32(&raw[i + 4]), U32(&raw[i + 8]), U32(&raw[i + 12])});
    return true;
}

std::vector<AviDataChunk> RiffReader::ChunksOf(int stream) const
{
    std::vector<AviDataChunk> result;
    for (const AviDataChunk& c : chunks_)
        if (c.stream == stream)
            result.push_back(c);
    return result;
}

}  // namespace testsupport
