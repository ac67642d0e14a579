#include "platform/audio/AudioCaptureRing.h"

#include <algorithm>
#include <cstring>

#include "platform/sync/NamedEvent.h"

namespace platform {

AudioCaptureRing::AudioCaptureRing(uint32_t size, uint8_t silence)
    : size_(size), silence_(silence), data_(new uint8_t[size]) {
    std::memset(data_.get(), silence_, size_);
}

bool AudioCaptureRing::SetNotifications(const uint32_t* offsets, NamedEvent* const* events, size_t count) {
    if (count > 0 && (!offsets || !events)) return false;
    for (size_t i = 0; i < count; ++i)
        if ((offsets[i] >= size_ && offsets[i] != kOffsetStop) || !events[i]) return false;
    notifications_.clear();
    notifications_.reserve(count);
    for (size_t i = 0; i < count; ++i) notifications_.push_back({offsets[i], events[i]});
    return true;
}

void AudioCaptureRing::Write(const uint8_t* bytes, size_t length) {
    if (length == 0) return;
    const uint32_t start = write_.load(std::memory_order_relaxed);
    // More than one lap: only the last lap stays in the ring.
    size_t skip = length > size_ ? length - size_ : 0;
    uint32_t position = static_cast<uint32_t>((start + skip) % size_);
    size_t left = length - skip;
    const uint8_t* from = bytes ? bytes + skip : nullptr;
    while (left > 0) {
        size_t piece = std::min<size_t>(left, size_ - position);
        if (from) {
            std::memcpy(data_.get() + position, from, piece);
            from += piece;
        } else {
            std::memset(data_.get() + position, silence_, piece);
        }
        left -= piece;
        position = static_cast<uint32_t>((position + piece) % size_);
    }
    write_.store(position, std::memory_order_release);
    NotifyPassed(start, length > size_ ? size_ : static_cast<uint32_t>(length));
}

void AudioCaptureRing::NotifyPassed(uint32_t from, uint32_t length) {
    const uint64_t end = static_cast<uint64_t>(from) + length;
    for (const Notification& n : notifications_) {
        if (n.offset == kOffsetStop) continue;
        // The position itself is not "passed" until the next lap reaches it again.
        uint64_t at = n.offset > from ? n.offset : static_cast<uint64_t>(n.offset) + size_;
        if (at <= end) n.event->Set();
    }
}

void AudioCaptureRing::NotifyStop() {
    for (const Notification& n : notifications_)
        if (n.offset == kOffsetStop) n.event->Set();
}

void AudioCaptureRing::NotifyAll() {
    for (const Notification& n : notifications_) n.event->Set();
}

}  // namespace platform
