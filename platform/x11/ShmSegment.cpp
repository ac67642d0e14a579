#include "platform/x11/ShmSegment.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <cerrno>
#include <cstring>

#include "platform/x11/XDisplayError.h"

namespace platform {

ShmSegment::~ShmSegment()
{
    if (seg_ != 0) {
        xcb_shm_detach(conn_, seg_);
        xcb_flush(conn_);
    }
    if (addr_)
        shmdt(addr_);
}

bool ShmSegment::Create(xcb_connection_t* conn, size_t size, std::string* error)
{
    conn_ = conn;
    const int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (id < 0) {
        *error = "shmget of " + std::to_string(size) + " bytes failed: " + std::strerror(errno);
        return false;
    }
    void* addr = shmat(id, nullptr, 0);
    if (addr == reinterpret_cast<void*>(-1)) {
        *error = std::string("shmat failed: ") + std::strerror(errno);
        shmctl(id, IPC_RMID, nullptr);
        return false;
    }
    addr_ = static_cast<uint8_t*>(addr);
    const xcb_shm_seg_t seg = xcb_generate_id(conn);
    const bool attached = XcbCheck(conn, xcb_shm_attach_checked(conn, seg, id, 0), "ShmAttach", error);
    shmctl(id, IPC_RMID, nullptr);
    if (!attached)
        return false;
    seg_ = seg;
    size_ = size;
    return true;
}

}  // namespace platform
