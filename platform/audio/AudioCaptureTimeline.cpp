#include "platform/audio/AudioCaptureTimeline.h"

#include <algorithm>

namespace platform {

AudioCaptureTimeline::AudioCaptureTimeline(uint32_t bytesPerSecond, uint32_t blockAlign)
    : bytesPerSecond_(bytesPerSecond), blockAlign_(std::max<uint32_t>(blockAlign, 1)) {}

void AudioCaptureTimeline::Begin(uint64_t startUs) {
    startUs_ = startUs;
    position_ = 0;
    drop_ = 0;
    ending_ = false;
    end_ = 0;
}

uint64_t AudioCaptureTimeline::BytesUntil(uint64_t atUs) const {
    if (atUs <= startUs_) return 0;
    const unsigned __int128 bytes = static_cast<unsigned __int128>(atUs - startUs_) * bytesPerSecond_ / 1000000u;
    return Whole(static_cast<uint64_t>(bytes));
}

uint64_t AudioCaptureTimeline::Align(int64_t capturedUs) {
    drop_ = 0;
    if (capturedUs < static_cast<int64_t>(startUs_)) {
        // Captured before Begin: drop up to Begin, then whatever the position covers.
        const uint64_t early = static_cast<uint64_t>(static_cast<int64_t>(startUs_) - capturedUs);
        const unsigned __int128 bytes = static_cast<unsigned __int128>(early) * bytesPerSecond_ / 1000000u;
        drop_ = Whole(static_cast<uint64_t>(bytes) + blockAlign_ - 1) + position_;
        return 0;
    }
    const uint64_t target = BytesUntil(static_cast<uint64_t>(capturedUs));
    if (target < position_) {
        drop_ = position_ - target;
        return 0;
    }
    uint64_t silence = target - position_;
    if (ending_) silence = std::min(silence, Missing());
    return silence;
}

AudioCaptureTimeline::Share AudioCaptureTimeline::Accept(size_t length) {
    Share share{};
    share.drop = static_cast<size_t>(std::min<uint64_t>(drop_, length));
    drop_ -= share.drop;
    share.place = length - share.drop;
    if (ending_) share.place = static_cast<size_t>(std::min<uint64_t>(share.place, Missing()));
    return share;
}

uint64_t AudioCaptureTimeline::SilenceUntil(uint64_t atUs) const {
    uint64_t target = BytesUntil(atUs);
    if (ending_) target = std::min(target, end_);
    return target > position_ ? target - position_ : 0;
}

void AudioCaptureTimeline::EndAt(uint64_t endUs) {
    end_ = BytesUntil(endUs);
    ending_ = true;
}

}  // namespace platform
