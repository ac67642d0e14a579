#include "engine/PendingStart.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <mutex>

#include "engine/LastError.h"

namespace korvid {

namespace {

struct Pending {
    CaptureContext* context = nullptr;
    std::string createdFile;  // empty: the set-up made no file
    bool setUp = false;
    uint64_t reportsAtSetUp = 0;
    bool abandoned = false;
};

std::mutex g_lock;
Pending g_pending;

void RemoveLocked()
{
    if (!g_pending.createdFile.empty())
        unlink(g_pending.createdFile.c_str());
    g_pending = Pending{};
}

}  // namespace

void PendingStart::Begin(CaptureContext* context)
{
    std::lock_guard<std::mutex> guard(g_lock);
    g_pending = Pending{};
    g_pending.context = context;
}

bool PendingStart::Exists(const std::string& path)
{
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

void PendingStart::FileCreated(CaptureContext* context, const std::string& path)
{
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_pending.context == context)
        g_pending.createdFile = path;
}

void PendingStart::SetUpDone(CaptureContext* context)
{
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_pending.context != context)
        return;
    g_pending.setUp = true;
    g_pending.reportsAtSetUp = CaptureErrorCount();
}

bool PendingStart::IsSetUp(CaptureContext* context)
{
    std::lock_guard<std::mutex> guard(g_lock);
    return g_pending.context == context && g_pending.setUp;
}

bool PendingStart::ReasonGiven(CaptureContext* context)
{
    std::lock_guard<std::mutex> guard(g_lock);
    return g_pending.context == context && g_pending.setUp && CaptureErrorCount() != g_pending.reportsAtSetUp;
}

void PendingStart::Started(CaptureContext* context)
{
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_pending.context == context)
        g_pending = Pending{};
}

void PendingStart::Abandon(CaptureContext* context)
{
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_pending.context == context)
        g_pending.abandoned = true;
}

void PendingStart::RemoveFile(CaptureContext* context)
{
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_pending.context == context)
        RemoveLocked();
}

void PendingStart::Stopped(CaptureContext* context)
{
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_pending.context != context)
        return;
    if (g_pending.abandoned)
        RemoveLocked();
    else
        g_pending = Pending{};
}

}  // namespace korvid
