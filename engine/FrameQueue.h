// The frame buffers of a recording and the frames waiting to be written, between the
// video thread, which fills buffers at the slot clock, and the frame writer, which
// compresses and writes them in turn. Everything is sized at construction: handing a
// frame over allocates nothing.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace korvid {

class FrameQueue {
public:
    struct Frame {
        int buffer = -1;
        uint32_t slot = 0;
    };

    explicit FrameQueue(int buffers);
    FrameQueue(const FrameQueue&) = delete;
    FrameQueue& operator=(const FrameQueue&) = delete;

    // Video thread: a free buffer, `preferred` when that one is free; -1 when every
    // buffer is filled or being written.
    int Acquire(int preferred = -1);
    // Video thread: an acquired buffer holds the frame of that slot. Frames are taken
    // in the order they are submitted.
    void Submit(int buffer, uint32_t slot);
    // Either side: the buffer is free again.
    void Release(int buffer);
    // Video thread: no frame comes any more.
    void Close();

    // Writer: waits for the next frame. False once the queue is closed and empty.
    bool Take(Frame* frame);
    // Writer: writing failed; the video thread sees it in Failed().
    void Fail() { failed_.store(true); }
    bool Failed() const { return failed_.load(); }

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::vector<char> free_;     // per buffer
    std::vector<Frame> frames_;  // a ring of submitted frames, as many as there are buffers
    size_t first_ = 0, count_ = 0;
    bool closed_ = false;
    std::atomic<bool> failed_{false};
};

}  // namespace korvid
