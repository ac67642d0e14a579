#include "engine/FrameQueue.h"

namespace korvid {

FrameQueue::FrameQueue(int buffers) : free_(static_cast<size_t>(buffers), 1), frames_(static_cast<size_t>(buffers)) {}

int FrameQueue::Acquire(int preferred)
{
    std::lock_guard lock(mutex_);
    const int buffers = static_cast<int>(free_.size());
    if (preferred >= 0 && preferred < buffers && free_[static_cast<size_t>(preferred)]) {
        free_[static_cast<size_t>(preferred)] = 0;
        return preferred;
    }
    for (int b = 0; b < buffers; ++b)
        if (free_[static_cast<size_t>(b)]) {
            free_[static_cast<size_t>(b)] = 0;
            return b;
        }
    return -1;
}

void FrameQueue::Submit(int buffer, uint32_t slot)
{
    {
        std::lock_guard lock(mutex_);
        // Only acquired buffers are submitted, so the ring never overflows.
        frames_[(first_ + count_) % frames_.size()] = Frame{buffer, slot};
        ++count_;
    }
    ready_.notify_one();
}

void FrameQueue::Release(int buffer)
{
    std::lock_guard lock(mutex_);
    free_[static_cast<size_t>(buffer)] = 1;
}

void FrameQueue::Close()
{
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    ready_.notify_one();
}

bool FrameQueue::Take(Frame* frame)
{
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [this] { return count_ > 0 || closed_; });
    if (count_ == 0)
        return false;
    *frame = frames_[first_];
    first_ = (first_ + 1) % frames_.size();
    --count_;
    return true;
}

}  // namespace korvid
