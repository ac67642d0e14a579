// One System V shared-memory segment attached to the process and to the X server
// (MIT-SHM), for the server to write images into. The id is removed as soon as both
// are attached, so the kernel frees the memory however the process ends.
#pragma once

#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

class ShmSegment {
public:
    ShmSegment() = default;
    ~ShmSegment();
    ShmSegment(const ShmSegment&) = delete;
    ShmSegment& operator=(const ShmSegment&) = delete;

    // A segment of size bytes attached to both sides; false with *error when the
    // kernel gives none or the server refuses it (one on another machine).
    bool Create(xcb_connection_t* conn, size_t size, std::string* error);

    xcb_shm_seg_t Id() const { return seg_; }
    uint8_t* Data() const { return addr_; }
    size_t Size() const { return size_; }

private:
    xcb_connection_t* conn_ = nullptr;
    xcb_shm_seg_t seg_ = 0;
    uint8_t* addr_ = nullptr;
    size_t size_ = 0;
};

}  // namespace platform
