#include "engine/LastError.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/sync/NamedEvent.h"
#include "platform/x11/XDisplay.h"

namespace korvid {

namespace {

char g_lastError[kLastErrorCapacity] = {};
// Writers may be any of the library's threads; the lock only keeps two writers
// from interleaving their bytes. The program reads the text after it was told.
std::mutex g_lastErrorLock;
std::atomic<uint64_t> g_reports{0};

}  // namespace

void ReportCaptureError(KorvidWindow window, const char* text)
{
    {
        std::lock_guard<std::mutex> lock(g_lastErrorLock);
        std::strncpy(g_lastError, text, kLastErrorCapacity - 1);
        g_lastError[kLastErrorCapacity - 1] = '\0';
    }
    g_reports.fetch_add(1, std::memory_order_release);
    if (window != 0)
        platform::PostWindowMessage(window, CaptureErrorMessage, 0, 0);
}

uint64_t CaptureErrorCount()
{
    return g_reports.load(std::memory_order_acquire);
}

void ReportWaitFailure(KorvidWindow window, const char* text)
{
    const std::string reason = platform::NamedEvent::LastError();
    const std::string message = reason.empty() ? std::string(text) : std::string(text) + ": " + reason;
    ReportCaptureError(window, message.c_str());
}

}  // namespace korvid

extern "C" {

KORVID_API const char* GetMyLastError(int32_t* capacity)
{
    if (capacity)
        *capacity = korvid::kLastErrorCapacity;
    return korvid::g_lastError;
}

KORVID_API const char* _GetMyLastError(int32_t* capacity) __attribute__((alias("GetMyLastError")));

}
