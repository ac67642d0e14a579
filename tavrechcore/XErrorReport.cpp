#include "tavrechcore/XErrorReport.h"

#include <cstdio>
#include <mutex>
#include <set>

#include "platform/x11/XErrorName.h"

namespace hookcore {

namespace {

std::mutex reportMutex;
std::set<uint32_t> reportedKinds;  // code | major << 8 | minor << 16

}  // namespace

void ReportXError(const char* what, const xcb_generic_error_t& error)
{
    const uint32_t kind = error.error_code | static_cast<uint32_t>(error.major_code) << 8 |
                          static_cast<uint32_t>(error.minor_code) << 16;
    std::lock_guard lock(reportMutex);
    if (!reportedKinds.insert(kind).second)
        return;
    std::fprintf(stderr,
                 "tavrechcore: %s: X error %s (error_code %u), major opcode %u, minor opcode %u, "
                 "resource id 0x%08x, sequence %u\n",
                 what, platform::XErrorName(error.error_code), error.error_code, error.major_code, error.minor_code,
                 error.resource_id, error.full_sequence);
}

void ReportProblem(const std::string& text)
{
    std::lock_guard lock(reportMutex);
    std::fprintf(stderr, "tavrechcore: %s\n", text.c_str());
}

}  // namespace hookcore
