#include "platform/sync/EventChangeCounter.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <string>

#include <fcntl.h>
#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr off_t kObjectSize = 64;

// Maps the user's shared counter object; null when it cannot be had (no /dev/shm, or
// an object of that name that is not ours).
uint32_t* MapSharedWord()
{
    const std::string name = "/tavrec-events." + std::to_string(geteuid()) + ".changes";
    const int fd = shm_open(name.c_str(), O_RDWR | O_CREAT, 0600);
    if (fd < 0)
        return nullptr;
    struct stat st{};
    void* mapping = MAP_FAILED;
    if (fstat(fd, &st) == 0 && st.st_uid == geteuid() && ((st.st_mode & 07777) == 0600 || fchmod(fd, 0600) == 0) &&
        (st.st_size >= kObjectSize || ftruncate(fd, kObjectSize) == 0))
        mapping = mmap(nullptr, kObjectSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    return mapping == MAP_FAILED ? nullptr : static_cast<uint32_t*>(mapping);
}

}  // namespace

EventChangeCounter::EventChangeCounter()
{
    word_ = MapSharedWord();
    if (!word_) {
        // Without the shared object no named event can exist either: the events of
        // this process are all there is to watch.
        word_ = &localWord_;
        processPrivate_ = true;
    }
}

EventChangeCounter& EventChangeCounter::Instance()
{
    // Kept for the life of the process: events are set up to its very end.
    static EventChangeCounter* counter = new EventChangeCounter();
    return *counter;
}

uint32_t EventChangeCounter::Load() const
{
    return std::atomic_ref<uint32_t>(*word_).load(std::memory_order_seq_cst);
}

void EventChangeCounter::Advance()
{
    std::atomic_ref<uint32_t>(*word_).fetch_add(1, std::memory_order_seq_cst);
    const int op = FUTEX_WAKE | (processPrivate_ ? FUTEX_PRIVATE_FLAG : 0);
    syscall(SYS_futex, word_, op, INT_MAX, nullptr, nullptr, 0);
}

int EventChangeCounter::WaitForChange(uint32_t seen, const timespec* deadline) const
{
    const int op = FUTEX_WAIT_BITSET | (processPrivate_ ? FUTEX_PRIVATE_FLAG : 0);
    if (syscall(SYS_futex, word_, op, seen, deadline, nullptr, FUTEX_BITSET_MATCH_ANY) == 0)
        return 0;
    return errno;
}

}  // namespace platform
