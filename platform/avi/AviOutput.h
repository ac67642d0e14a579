// The AVI writer's file: sequential appends through one fixed buffer, small in-place
// patches of what is already on disk, and exact knowledge of how many bytes reached
// the file when a write fails (so a failed file can be cut back to whole chunks).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

struct iovec;

namespace platform {

class AviOutput {
public:
    // writePiece: the most bytes handed to the kernel in one write (kWritePiece
    // unless a benchmark compares sizes).
    explicit AviOutput(size_t writePiece = kWritePiece) : writePiece_(writePiece ? writePiece : kWritePiece) {}
    ~AviOutput();
    AviOutput(const AviOutput&) = delete;
    AviOutput& operator=(const AviOutput&) = delete;

    // Creates the file, replacing an existing one.
    bool Open(const std::string& path);
    // Closes the file; pending buffered bytes are written first.
    bool Close();

    // Offset at which the next appended byte lands.
    uint64_t Position() const { return diskEnd_ + used_; }
    // Bytes known to be in the file (everything before this offset was written).
    uint64_t DiskEnd() const { return diskEnd_; }

    bool Append(const void* data, size_t size);
    // Appends the parts one after the other; size is their total.
    bool Append(const iovec* parts, size_t count, size_t size);
    bool AppendFill(uint8_t byte, size_t count);
    // Writes what is buffered.
    bool Flush();
    // Overwrites bytes that are already in the file (offset + size <= DiskEnd()).
    bool Patch(uint64_t offset, const void* data, size_t size);
    // Drops what is buffered and cuts the file to size bytes.
    bool Truncate(uint64_t size);

    const std::string& LastError() const { return error_; }

    // Each write system call takes at most this many bytes. The kernel copies what it
    // is given into the page cache, and one copy of a whole 8.3 MB frame costs many
    // times what the same bytes cost in pieces. bench/write_pieces, 180 frames of
    // 1920x1080x32 on a 2-core Debian 12 VM (two runs, both cores busy with builds),
    // system CPU per frame: whole frame 17.2-17.9 ms, 2 MB 2.7-3.3 ms, 1 MB 2.0-3.7 ms,
    // 512 KB 6.6-8.3 ms, 256 KB 6.1-8.1 ms, 128 KB 5.0-8.3 ms.
    static constexpr size_t kWritePiece = 1 << 20;

private:
    bool WriteOut(const iovec* parts, size_t count);
    bool Fail(const char* what);

    static constexpr size_t kCapacity = 1 << 20;
    // Appends at least this large bypass the buffer (one gathered write instead of copies).
    static constexpr size_t kDirect = kCapacity / 4;
    // Parts one write call gathers at most (frame rows are several kilobytes, so a
    // piece of kWritePiece bytes takes some hundred of them).
    static constexpr size_t kGather = 256;

    size_t writePiece_;
    int fd_ = -1;
    std::string path_;
    std::unique_ptr<uint8_t[]> buffer_;
    size_t used_ = 0;
    uint64_t diskEnd_ = 0;
    std::string error_;
};

}  // namespace platform
