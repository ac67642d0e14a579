// Places captured sound on the time line of one capture run: byte k written since
// Begin holds the sound captured at Begin + k / bytes per second. Sound captured
// before Begin is dropped, time no sound covers is silence, and the run ends with
// the sound captured up to the end instant, nothing after it.
//
// Pure bookkeeping in whole blocks; the owner writes and drops the bytes it is told.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

class AudioCaptureTimeline {
public:
    AudioCaptureTimeline(uint32_t bytesPerSecond, uint32_t blockAlign);

    // A new run starting at startUs (microseconds of the capture clock).
    void Begin(uint64_t startUs);
    uint64_t StartUs() const { return startUs_; }
    // Bytes placed (sound and silence) since Begin.
    uint64_t Position() const { return position_; }
    // Whole-block bytes the time from Begin to atUs spans; 0 for times before Begin.
    uint64_t BytesUntil(uint64_t atUs) const;

    // The next incoming byte was captured at capturedUs: returns the silence to place
    // before it; sound that belongs before the current position (captured before
    // Begin, or where silence was placed already) is to be dropped by Accept.
    uint64_t Align(int64_t capturedUs);

    // For length incoming bytes: how many to drop from their front and how many of
    // the rest to place (fewer than all once the end is reached).
    struct Share {
        size_t drop;
        size_t place;
    };
    Share Accept(size_t length);
    // Counts bytes placed (after Accept, or silence from Align or FillUntil).
    void Placed(uint64_t bytes) { position_ += bytes; }
    // Silence that brings the position up to atUs (0 when it is there already).
    uint64_t SilenceUntil(uint64_t atUs) const;

    // The run ends at endUs: nothing is placed beyond it.
    void EndAt(uint64_t endUs);
    bool Ending() const { return ending_; }
    // Bytes still missing up to the end instant.
    uint64_t Missing() const { return end_ > position_ ? end_ - position_ : 0; }

private:
    uint64_t Whole(uint64_t bytes) const { return bytes - bytes % blockAlign_; }

    uint32_t bytesPerSecond_;
    uint32_t blockAlign_;
    uint64_t startUs_ = 0;
    uint64_t position_ = 0;
    uint64_t drop_ = 0;  // incoming bytes still to drop
    bool ending_ = false;
    uint64_t end_ = 0;
};

}  // namespace platform
