#include "platform/avi/AviOutput.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace platform {

AviOutput::~AviOutput()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool AviOutput::Open(const std::string& path)
{
    path_ = path;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0)
        return Fail("cannot create");
    buffer_ = std::make_unique<uint8_t[]>(kCapacity);
    used_ = 0;
    diskEnd_ = 0;
    return true;
}

bool AviOutput::Close()
{
    if (fd_ < 0)
        return true;
    const bool flushed = Flush();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && flushed)
        return Fail("cannot close");
    return flushed;
}

bool AviOutput::Fail(const char* what)
{
    const int code = errno;
    error_ = std::string(what) + " '" + path_ + "': " + std::generic_category().message(code);
    return false;
}

// Writes the buffer followed by the parts in pieces of at most writePiece_ bytes (and
// at most kGather parts) a call; short writes continue where they stopped. On failure
// DiskEnd() tells how far the file got.
bool AviOutput::WriteOut(const iovec* parts, size_t count)
{
    if (fd_ < 0) {
        errno = EBADF;
        return Fail("cannot write to");
    }
    size_t bufferDone = 0;
    size_t part = 0, partDone = 0;  // the next part and how much of it is written
    while (part < count && parts[part].iov_len == 0)
        ++part;
    while (bufferDone < used_ || part < count) {
        // At most writePiece_ bytes per call: the buffer's rest first, then the parts.
        iovec gather[kGather];
        int n = 0;
        size_t room = writePiece_;
        if (bufferDone < used_) {
            const size_t take = std::min(used_ - bufferDone, room);
            gather[n++] = {buffer_.get() + bufferDone, take};
            room -= take;
        }
        for (size_t p = part, done = partDone; p < count && room > 0 && n < int(kGather); ++p, done = 0) {
            const size_t take = std::min(parts[p].iov_len - done, room);
            if (take == 0)
                continue;
            gather[n++] = {static_cast<uint8_t*>(parts[p].iov_base) + done, take};
            room -= take;
        }
        const ssize_t written = ::writev(fd_, gather, n);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            // Keep the unwritten rest of the buffer at its start so DiskEnd() + what
            // is buffered still describes the logical file.
            if (bufferDone > 0)
                std::memmove(buffer_.get(), buffer_.get() + bufferDone, used_ - bufferDone);
            used_ -= bufferDone;
            return Fail("cannot write to");
        }
        if (written == 0) {
            errno = EIO;
            return Fail("cannot write to");
        }
        size_t done = static_cast<size_t>(written);
        diskEnd_ += done;
        const size_t fromBuffer = std::min(done, used_ - bufferDone);
        bufferDone += fromBuffer;
        done -= fromBuffer;
        while (done > 0 && part < count) {
            const size_t take = std::min(parts[part].iov_len - partDone, done);
            partDone += take;
            done -= take;
            if (partDone == parts[part].iov_len) {
                ++part;
                partDone = 0;
            }
        }
        while (part < count && parts[part].iov_len == 0)
            ++part;
    }
    used_ = 0;
    return true;
}

bool AviOutput::Append(const void* data, size_t size)
{
    const iovec part{const_cast<void*>(data), size};
    return Append(&part, 1, size);
}

bool AviOutput::Append(const iovec* parts, size_t count, size_t size)
{
    if (size == 0)
        return true;
    if (size >= kDirect)
        return WriteOut(parts, count);
    if (used_ + size > kCapacity && !WriteOut(nullptr, 0))
        return false;
    for (size_t p = 0; p < count; ++p) {
        std::memcpy(buffer_.get() + used_, parts[p].iov_base, parts[p].iov_len);
        used_ += parts[p].iov_len;
    }
    return true;
}

bool AviOutput::AppendFill(uint8_t byte, size_t count)
{
    while (count > 0) {
        if (used_ == kCapacity && !WriteOut(nullptr, 0))
            return false;
        const size_t n = std::min(count, kCapacity - used_);
        std::memset(buffer_.get() + used_, byte, n);
        used_ += n;
        count -= n;
    }
    return true;
}

bool AviOutput::Flush()
{
    return used_ == 0 || WriteOut(nullptr, 0);
}

bool AviOutput::Patch(uint64_t offset, const void* data, size_t size)
{
    if (fd_ < 0 || offset + size > diskEnd_) {
        errno = EINVAL;
        return Fail("patch outside the written part of");
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(fd_, bytes, size, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Fail("cannot update");
        }
        if (n == 0) {
            errno = EIO;
            return Fail("cannot update");
        }
        bytes += n;
        offset += static_cast<uint64_t>(n);
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool AviOutput::Truncate(uint64_t size)
{
    used_ = 0;
    if (fd_ < 0)
        return false;
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0)
        return Fail("cannot cut back");
    if (::lseek(fd_, static_cast<off_t>(size), SEEK_SET) < 0)
        return Fail("cannot seek in");
    diskEnd_ = size;
    return true;
}

}  // namespace platform
