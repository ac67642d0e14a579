// Our own RIFF AVI writer: OpenDML (AVI 2.0) with a legacy idx1 for the first part,
// so files grow past 1 GB. Streams are written at sample positions; positions skipped
// over become empty chunks (dropped frames). Headers and indexes are brought up to
// date on disk at least once a second of data, so a file whose writer is killed or
// whose disk fills stays readable up to that point. Safe for several writer threads.
//
// A write that fails (disk full, EFBIG) returns false and refuses all later writes;
// Close then cuts the file back to the last whole chunk and completes its headers and
// indexes (giving up the newest chunks if the indexes need their room). A write past
// RLIMIT_FSIZE raises SIGXFSZ, which ends the process unless the caller ignores or
// handles that signal; only then does Write see EFBIG and return false.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/WinTypes.h"

struct iovec;

namespace platform {

#pragma pack(push, 1)
// AVISTREAMINFO (the narrow-text form), 140 bytes.
struct AviStreamInfo {
    uint32_t fccType;
    uint32_t fccHandler;
    uint32_t dwFlags;
    uint32_t dwCaps;
    uint16_t wPriority;
    uint16_t wLanguage;
    uint32_t dwScale;
    uint32_t dwRate;
    uint32_t dwStart;
    uint32_t dwLength;
    uint32_t dwInitialFrames;
    uint32_t dwSuggestedBufferSize;
    uint32_t dwQuality;
    uint32_t dwSampleSize;
    RectL rcFrame;
    uint32_t dwEditCount;
    uint32_t dwFormatChangeCount;
    char szName[64];
};
#pragma pack(pop)
static_assert(sizeof(AviStreamInfo) == 140, "AVISTREAMINFO is 140 bytes");

inline constexpr uint32_t kStreamTypeVideo = TAVREC_FOURCC('v', 'i', 'd', 's');
inline constexpr uint32_t kStreamTypeAudio = TAVREC_FOURCC('a', 'u', 'd', 's');

class AviFile;

class AviStream {
public:
    // The format (BITMAPINFOHEADER plus extra data, or WAVEFORMATEX), at position 0 only.
    bool SetFormat(int64_t position, const void* format, size_t size);
    // Writes samples at position start. A position before the stream's end is refused;
    // positions skipped over are filled with empty chunks. flags: TAVREC_AVIIF_KEYFRAME.
    // Positions are 64-bit: sound at a high rate passes 2^31 blocks within hours. The
    // header fields that count them in 32 bits (strh dwLength, dwTotalFrames) stop at
    // their largest value; the OpenDML index, which counts chunk sizes, is exact.
    bool Write(int64_t start, int32_t samples, const void* data, size_t bytes, uint32_t flags);
    // The same with the data gathered from parts, one after the other (the rows of a
    // frame, say, in the order the file stores them).
    bool Write(int64_t start, int32_t samples, const iovec* parts, size_t count, uint32_t flags);
    // No more writes come; the stream stays part of the file until it is closed.
    void Release();

    struct Impl;
    explicit AviStream(Impl* impl);

private:
    Impl* impl_;  // owned by the file
};

class AviFile {
public:
    struct Options {
        // Size at which the file starts a new RIFF part (AVIX); the first part also
        // carries the legacy idx1. Small values let tests reach the AVIX path.
        uint64_t partSize = 1000ull * 1000 * 1000;
        // How often, in milliseconds of written data, headers and indexes are
        // brought up to date on disk.
        // The interval is measured on the streams' own timelines (positions times
        // dwScale / dwRate), not on the clock: a flush follows any write that moves
        // a stream this far past its position at the last flush. At real-time
        // recording that is the same as wall time, it does not depend on how busy
        // the machine is, and a paused recording costs nothing. 0 flushes after
        // every write.
        uint32_t flushIntervalMs = 1000;
        // Entries each stream's OpenDML super index has room for (16 bytes each,
        // reserved in the header). One is used per finished part, so together with
        // partSize this bounds the file: 4096 x 1 GB by default.
        uint32_t indexCapacity = 4096;
    };

    // Creates the file, replacing an existing one. Null on failure (*error says why).
    static std::unique_ptr<AviFile> Create(const std::string& path, std::string* error = nullptr);
    static std::unique_ptr<AviFile> Create(const std::string& path, const Options& options,
                                           std::string* error = nullptr);
    // Completes and closes the file (Close), if not done yet.
    ~AviFile();
    AviFile(const AviFile&) = delete;
    AviFile& operator=(const AviFile&) = delete;

    // Adds a stream described by the whole header; szName goes into its strn chunk.
    // Streams must all be created before the first write. Null on failure.
    AviStream* CreateStream(const AviStreamInfo& info);
    // Writes the final headers and indexes and closes the file.
    bool Close();

    // Why the last call on the file or one of its streams failed. The text is a copy
    // for the calling thread, valid until that thread's next LastError call.
    const std::string& LastError() const;

    struct Impl;

private:
    explicit AviFile(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
