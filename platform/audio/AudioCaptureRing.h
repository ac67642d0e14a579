// The looping capture buffer: bytes are written at a write position that wraps at
// the buffer's size, and an event is set each time that position passes one of the
// notification offsets (an offset of 0 is passed when the buffer wraps).
//
// One thread writes (PulseAudio's main loop thread), another reads (the capture
// thread); the owner serialises them with the main loop's lock. The write position is
// also an atomic so that it can be read without the lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace platform {

class NamedEvent;

class AudioCaptureRing {
public:
    // Notification offset meaning "when capture stops".
    static constexpr uint32_t kOffsetStop = 0xFFFFFFFFu;

    // A ring of size bytes (> 0), all set to the silence byte.
    AudioCaptureRing(uint32_t size, uint8_t silence);

    uint32_t Size() const { return size_; }
    uint32_t WritePosition() const { return write_.load(std::memory_order_acquire); }
    uint8_t* Data() { return data_.get(); }

    // Replaces the notification list; false (list unchanged) when an offset is neither
    // inside the ring nor kOffsetStop, or an event is null. Reserves its storage here,
    // so writing never allocates.
    bool SetNotifications(const uint32_t* offsets, NamedEvent* const* events, size_t count);

    // Appends bytes at the write position (null data: silence), wrapping, and sets the
    // events whose offsets the write position passes.
    void Write(const uint8_t* bytes, size_t length);
    // Sets the events registered for kOffsetStop.
    void NotifyStop();
    // Sets every event (used when capture fails, so a waiting thread wakes up).
    void NotifyAll();

private:
    struct Notification {
        uint32_t offset;
        NamedEvent* event;
    };
    void NotifyPassed(uint32_t from, uint32_t length);

    uint32_t size_;
    uint8_t silence_;
    std::unique_ptr<uint8_t[]> data_;
    std::atomic<uint32_t> write_{0};
    std::vector<Notification> notifications_;
};

}  // namespace platform
