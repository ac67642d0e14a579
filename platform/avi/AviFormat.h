// The records of a RIFF AVI file with OpenDML (AVI 2.0) indexes, byte for byte as they
// lie on disk (little-endian, packed). Used by the writer; readers may use them too.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "platform/WinTypes.h"

static_assert(std::endian::native == std::endian::little, "AVI records are written as they are in memory");

namespace platform::avi {

inline constexpr uint32_t kRiff = TAVREC_FOURCC('R', 'I', 'F', 'F');
inline constexpr uint32_t kList = TAVREC_FOURCC('L', 'I', 'S', 'T');
inline constexpr uint32_t kJunk = TAVREC_FOURCC('J', 'U', 'N', 'K');
inline constexpr uint32_t kFormAvi = TAVREC_FOURCC('A', 'V', 'I', ' ');
inline constexpr uint32_t kFormAvix = TAVREC_FOURCC('A', 'V', 'I', 'X');
inline constexpr uint32_t kHdrl = TAVREC_FOURCC('h', 'd', 'r', 'l');
inline constexpr uint32_t kAvih = TAVREC_FOURCC('a', 'v', 'i', 'h');
inline constexpr uint32_t kStrl = TAVREC_FOURCC('s', 't', 'r', 'l');
inline constexpr uint32_t kStrh = TAVREC_FOURCC('s', 't', 'r', 'h');
inline constexpr uint32_t kStrf = TAVREC_FOURCC('s', 't', 'r', 'f');
inline constexpr uint32_t kStrn = TAVREC_FOURCC('s', 't', 'r', 'n');
inline constexpr uint32_t kIndx = TAVREC_FOURCC('i', 'n', 'd', 'x');
inline constexpr uint32_t kOdml = TAVREC_FOURCC('o', 'd', 'm', 'l');
inline constexpr uint32_t kDmlh = TAVREC_FOURCC('d', 'm', 'l', 'h');
inline constexpr uint32_t kMovi = TAVREC_FOURCC('m', 'o', 'v', 'i');
inline constexpr uint32_t kIdx1 = TAVREC_FOURCC('i', 'd', 'x', '1');

// avih dwFlags
inline constexpr uint32_t kAvifHasIndex = 0x10;
inline constexpr uint32_t kAvifIsInterleaved = 0x100;
// idx1 dwFlags
inline constexpr uint32_t kIdx1KeyFrame = 0x10;
// Standard index entry: bit 31 of dwSize marks a frame that is not a key frame.
inline constexpr uint32_t kStdIndexDeltaFrame = 0x80000000u;
// bIndexType of the two OpenDML index kinds.
inline constexpr uint8_t kIndexOfIndexes = 0;
inline constexpr uint8_t kIndexOfChunks = 1;

#pragma pack(push, 1)
struct ChunkHeader {
    uint32_t id;
    uint32_t size;
};

// 'RIFF' size form, or 'LIST' size type.
struct ListHeader {
    uint32_t id;
    uint32_t size;
    uint32_t type;
};

// 'avih', 56 bytes.
struct MainHeader {
    uint32_t dwMicroSecPerFrame;
    uint32_t dwMaxBytesPerSec;
    uint32_t dwPaddingGranularity;
    uint32_t dwFlags;
    uint32_t dwTotalFrames;
    uint32_t dwInitialFrames;
    uint32_t dwStreams;
    uint32_t dwSuggestedBufferSize;
    uint32_t dwWidth;
    uint32_t dwHeight;
    uint32_t dwReserved[4];
};

// 'strh', 56 bytes; rcFrame is four 16-bit values here (left, top, right, bottom).
struct StreamHeader {
    uint32_t fccType;
    uint32_t fccHandler;
    uint32_t dwFlags;
    uint16_t wPriority;
    uint16_t wLanguage;
    uint32_t dwInitialFrames;
    uint32_t dwScale;
    uint32_t dwRate;
    uint32_t dwStart;
    uint32_t dwLength;
    uint32_t dwSuggestedBufferSize;
    uint32_t dwQuality;
    uint32_t dwSampleSize;
    int16_t rcFrame[4];
};

// Body of an 'indx' chunk (index of indexes) before its entries, 24 bytes.
struct SuperIndexHeader {
    uint16_t wLongsPerEntry;  // 4
    uint8_t bIndexSubType;    // 0
    uint8_t bIndexType;       // kIndexOfIndexes
    uint32_t nEntriesInUse;
    uint32_t dwChunkId;
    uint32_t dwReserved[3];
};

struct SuperIndexEntry {
    uint64_t qwOffset;    // file offset of the 'ix##' chunk header
    uint32_t dwSize;      // size of that chunk including its header
    uint32_t dwDuration;  // stream ticks it covers
};

// Body of an 'ix##' chunk (index of chunks) before its entries, 24 bytes.
struct StdIndexHeader {
    uint16_t wLongsPerEntry;  // 2
    uint8_t bIndexSubType;    // 0
    uint8_t bIndexType;       // kIndexOfChunks
    uint32_t nEntriesInUse;
    uint32_t dwChunkId;
    uint64_t qwBaseOffset;
    uint32_t dwReserved;
};

struct StdIndexEntry {
    uint32_t dwOffset;  // of the chunk's data, relative to qwBaseOffset
    uint32_t dwSize;    // data size; kStdIndexDeltaFrame set when not a key frame
};

// Legacy 'idx1' entry; dwChunkOffset counts from the 'movi' type code of the first part.
struct Idx1Entry {
    uint32_t ckid;
    uint32_t dwFlags;
    uint32_t dwChunkOffset;
    uint32_t dwChunkLength;
};

// 'dmlh', 248 bytes.
struct OdmlHeader {
    uint32_t dwTotalFrames;
    uint32_t dwFuture[61];
};
#pragma pack(pop)

static_assert(sizeof(MainHeader) == 56);
static_assert(sizeof(StreamHeader) == 56);
static_assert(sizeof(SuperIndexHeader) == 24);
static_assert(sizeof(SuperIndexEntry) == 16);
static_assert(sizeof(StdIndexHeader) == 24);
static_assert(sizeof(StdIndexEntry) == 8);
static_assert(sizeof(Idx1Entry) == 16);
static_assert(sizeof(OdmlHeader) == 248);

// A chunk's data is followed by a pad byte when its size is odd.
inline constexpr uint32_t Padded(size_t size)
{
    return uint32_t(size + (size & 1));
}

}  // namespace platform::avi
