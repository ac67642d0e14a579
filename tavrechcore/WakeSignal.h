// An eventfd that wakes a thread sleeping in poll(): the hooks' threads wait on it
// beside their X connection, so that a stop or a change from the program's thread
// is seen at once.
#pragma once

namespace hookcore {

class WakeSignal {
public:
    WakeSignal();
    ~WakeSignal();
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;

    bool Valid() const { return fd_ >= 0; }
    int FileDescriptor() const { return fd_; }
    void Notify();
    void Drain();

private:
    int fd_;
};

}  // namespace hookcore
