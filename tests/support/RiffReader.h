// A reader of whole RIFF AVI files for tests: every part (RIFF 'AVI ' and 'AVIX'),
// the header list (avih, each strl with strh, strf, strn, indx, the odml/dmlh list),
// every chunk of every 'movi' list, the 'ix##' standard indexes (those in 'movi' and
// those the super indexes point at) and idx1. Fields are decoded from their byte
// offsets, independently of any writer's record definitions, and the raw bytes of each
// header are kept so tests can compare them byte for byte.
//
// Open() is strict: a chunk that runs past its parent or the file, a super index
// entry that does not point at an index chunk, or an index that does not fit its
// chunk fails with a message. Bytes after the last complete RIFF part are allowed and
// reported by PartsEnd() < FileSize().
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// Four-character code from text, e.g. Fourcc("00dc").
constexpr uint32_t Fourcc(const char (&s)[5])
{
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}
std::string FourccText(uint32_t code);

struct RiffChunk {
    uint32_t id = 0;
    uint32_t size = 0;    // as stored (without header and pad byte)
    uint64_t offset = 0;  // of the 8-byte header
    uint32_t listType = 0;  // for 'RIFF' and 'LIST': the type code, else 0
    uint64_t DataOffset() const { return offset + 8; }
    uint64_t End() const { return offset + 8 + size + (size & 1); }
};

struct AviMainHeaderFields {
    uint32_t microSecPerFrame = 0, maxBytesPerSec = 0, paddingGranularity = 0, flags = 0;
    uint32_t totalFrames = 0, initialFrames = 0, streams = 0, suggestedBufferSize = 0;
    uint32_t width = 0, height = 0;
    uint32_t reserved[4] = {};
    std::vector<uint8_t> raw;  // the chunk's data
};

struct AviStreamHeaderFields {
    uint32_t type = 0, handler = 0, flags = 0;
    uint16_t priority = 0, language = 0;
    uint32_t initialFrames = 0, scale = 0, rate = 0, start = 0, length = 0;
    uint32_t suggestedBufferSize = 0, quality = 0, sampleSize = 0;
    int16_t frame[4] = {};  // left, top, right, bottom
    std::vector<uint8_t> raw;
};

struct AviStandardIndex {
    struct Entry {
        uint32_t offset = 0;   // of the chunk's data, relative to baseOffset
        uint32_t rawSize = 0;  // bit 31 set: not a key frame
        uint32_t Size() const { return rawSize & 0x7FFFFFFFu; }
        bool KeyFrame() const { return (rawSize & 0x80000000u) == 0; }
    };
    RiffChunk chunk;
    uint16_t longsPerEntry = 0;
    uint8_t subType = 0, type = 0;
    uint32_t entriesInUse = 0, chunkId = 0;
    uint64_t baseOffset = 0;
    uint32_t reserved = 0;
    std::vector<Entry> entries;
    // File offset of the header of the chunk that entry i describes.
    uint64_t ChunkOffset(size_t i) const { return baseOffset + entries[i].offset - 8; }
};

struct AviSuperIndex {
    struct Entry {
        uint64_t offset = 0;  // of the 'ix##' chunk
        uint32_t size = 0;    // of that chunk, header included
        uint32_t duration = 0;
    };
    RiffChunk chunk;
    uint16_t longsPerEntry = 0;
    uint8_t subType = 0, type = 0;
    uint32_t entriesInUse = 0, chunkId = 0;
    uint32_t reserved[3] = {};
    uint32_t capacity = 0;  // entries the chunk has room for
    std::vector<Entry> entries;  // the ones in use
    std::vector<AviStandardIndex> targets;  // the chunk each entry points at
};

struct AviStreamList {
    RiffChunk list;
    std::vector<RiffChunk> children;  // in file order
    AviStreamHeaderFields header;
    std::vector<uint8_t> format;     // strf data (without pad byte)
    bool hasName = false;
    std::string name;                // strn text up to its terminator
    std::vector<uint8_t> nameRaw;    // strn data
    bool hasSuperIndex = false;
    AviSuperIndex superIndex;
};

struct AviDataChunk {
    uint32_t id = 0;
    uint32_t size = 0;
    uint64_t offset = 0;  // of the header
    int stream = -1;      // from the two digits of the id
    size_t part = 0;
};

struct AviPart {
    RiffChunk riff;  // listType 'AVI ' or 'AVIX'
    std::vector<RiffChunk> children;
    RiffChunk movi;  // the part's LIST 'movi'
    size_t firstChunk = 0, chunkCount = 0;  // its range in Chunks()
};

struct AviIdx1Entry {
    uint32_t id = 0, flags = 0, offset = 0, size = 0;
};

class RiffReader {
public:
    RiffReader() = default;
    ~RiffReader();
    RiffReader(const RiffReader&) = delete;
    RiffReader& operator=(const RiffReader&) = delete;

    // Parses the whole file (again, when called a second time).
    bool Open(const std::string& path);
    const std::string& LastError() const { return error_; }

    uint64_t FileSize() const { return fileSize_; }
    uint64_t PartsEnd() const { return partsEnd_; }
    const std::vector<AviPart>& Parts() const { return parts_; }
    const RiffChunk& Hdrl() const { return hdrl_; }
    const std::vector<RiffChunk>& HdrlChildren() const { return hdrlChildren_; }
    const AviMainHeaderFields& MainHeader() const { return main_; }
    const std::vector<AviStreamList>& Streams() const { return streams_; }
    bool HasOdml() const { return hasOdml_; }
    uint32_t OdmlTotalFrames() const { return odmlTotalFrames_; }
    const std::vector<uint8_t>& DmlhRaw() const { return dmlhRaw_; }
    // Data chunks of every 'movi' list in file order ('ix##', 'JUNK' and lists left out).
    const std::vector<AviDataChunk>& Chunks() const { return chunks_; }
    std::vector<AviDataChunk> ChunksOf(int stream) const;
    // Every 'ix##' chunk found inside a 'movi' list, referenced or not.
    const std::vector<AviStandardIndex>& MoviIndexes() const { return moviIndexes_; }
    bool HasIdx1() const { return hasIdx1_; }
    const RiffChunk& Idx1Chunk() const { return idx1Chunk_; }
    const std::vector<AviIdx1Entry>& Idx1() const { return idx1_; }

    // Reads a chunk's data from the file.
    bool ReadData(const AviDataChunk& chunk, std::vector<uint8_t>* data) const;
    bool ReadBytes(uint64_t offset, size_t size, std::vector<uint8_t>* data) const;

private:
    void Reset();
    bool Fail(const std::string& text);
    bool ReadAt(uint64_t offset, void* data, size_t size) const;
    bool ReadHeader(uint64_t offset, uint64_t limit, RiffChunk* chunk, const char* where);
    bool ReadChildren(const RiffChunk& list, std::vector<RiffChunk>* children, const char* where);
    bool ParsePart(uint64_t offset);
    bool ParseHdrl(const RiffChunk& hdrl);
    bool ParseStrl(const RiffChunk& strl);
    bool ParseSuperIndex(const RiffChunk& chunk, AviSuperIndex* index);
    bool ParseStandardIndex(const RiffChunk& chunk, AviStandardIndex* index);
    bool ParseMovi(const RiffChunk& list, size_t part);
    bool ParseIdx1(const RiffChunk& chunk);

    std::string path_;
    int fd_ = -1;
    std::string error_;
    uint64_t fileSize_ = 0;
    uint64_t partsEnd_ = 0;
    std::vector<AviPart> parts_;
    RiffChunk hdrl_;
    std::vector<RiffChunk> hdrlChildren_;
    AviMainHeaderFields main_;
    std::vector<AviStreamList> streams_;
    bool hasOdml_ = false;
    uint32_t odmlTotalFrames_ = 0;
    std::vector<uint8_t> dmlhRaw_;
    std::vector<AviDataChunk> chunks_;
    std::vector<AviStandardIndex> moviIndexes_;
    bool hasIdx1_ = false;
    RiffChunk idx1Chunk_;
    std::vector<AviIdx1Entry> idx1_;
};

}  // namespace testsupport
