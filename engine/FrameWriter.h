// The second stage of the video pipeline: a thread of its own that takes the frames
// the video thread queued, compresses them (or keeps them uncompressed) and writes
// each at the stream position of its slot. Encoders with frame threads give packets
// late; they are written at their own positions as they come, and the ones still held
// at the end are drained before Finish returns. Frames are only read here: the video
// thread may copy a frame that is being written. An encoder that takes the frames'
// own pixel format reads them in their buffer, which is freed once it lets go.
#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <thread>
#include <vector>

#include "engine/FrameQueue.h"
#include "engine/korvid.h"

namespace platform {
class AviStream;
class Compressor;
}  // namespace platform

namespace korvid {

// Where the frames lie and how the file stores them.
struct FrameLayout {
    std::vector<uint8_t*> buffers;  // per queue buffer: rows top-down, stride bytes apart
    size_t stride = 0;
    int height = 0;
    size_t fileRowBytes = 0;  // a row as an uncompressed frame stores it
};

class FrameWriter {
public:
    // compressor null: frames are written uncompressed, rows bottom-up.
    FrameWriter(FrameQueue& queue, FrameLayout layout, platform::AviStream* stream, platform::Compressor* compressor,
                uint32_t quality, KorvidWindow notify);
    // Finishes when Finish was not called: a recording that ends on a failure of the
    // video thread keeps the frames built before it.
    ~FrameWriter();
    FrameWriter(const FrameWriter&) = delete;
    FrameWriter& operator=(const FrameWriter&) = delete;

    void Start();
    // Video thread: no frame comes any more; returns once every queued frame and every
    // held-back packet is written. False when writing failed (reported already).
    bool Finish();

private:
    void Run();
    bool Write(const FrameQueue::Frame& frame);
    bool WriteUncompressed(const FrameQueue::Frame& frame);
    bool WritePackets();
    bool Fail(const char* text);
    // Frees the buffers the encoder read in place once it has let go of them; every
    // one when `all`.
    void ReleaseLent(bool all);

    FrameQueue& queue_;
    FrameLayout layout_;
    platform::AviStream* stream_;
    platform::Compressor* compressor_;
    uint32_t quality_;
    KorvidWindow notify_;
    std::vector<iovec> rows_;           // an uncompressed frame's rows, bottom row first
    std::vector<uint8_t> rowPadding_;   // zeros, for rows the file stores wider than the buffer
    std::vector<int> lent_;             // buffers the encoder still reads in place
    std::thread thread_;
};

}  // namespace korvid
