// The AVI writer's file: sequential appends through one fixed buffer, small in-place
// patches of what is already on disk, and exact knowledge of how many bytes reached
// the file when a write fails (so a failed file can be cut back to whole chunks).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

class AviOutput {
public:
    AviOutput() = default;
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
    bool AppendFill(uint8_t byte, size_t count);
    // Writes what is buffered.
    bool Flush();
    // Overwrites bytes that are already in the file (offset + size <= DiskEnd()).
    bool Patch(uint64_t offset, const void* data, size_t size);
    // Drops what is buffered and cuts the file to size bytes.
    bool Truncate(uint64_t size);

    const std::string& LastError() const { return error_; }

private:
    bool WriteOut(const void* extra, size_t extraSize);
    bool Fail(const char* what);

    static constexpr size_t kCapacity = 1 << 20;
    // Appends at least this large bypass the buffer (one gathered write instead of copies).
    static constexpr size_t kDirect = kCapacity / 4;

    int fd_ = -1;
    std::string path_;
    std::unique_ptr<uint8_t[]> buffer_;
    size_t used_ = 0;
    uint64_t diskEnd_ = 0;
    std::string error_;
};

}  // namespace platform
