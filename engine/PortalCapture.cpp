#include "engine/PortalCapture.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>

#include "engine/LastError.h"
#include "platform/portal/PortalScreenCast.h"
#include "platform/portal/ScreenSourceChoice.h"

namespace korvid {

namespace {

// One recording at a time per process: one slot.
std::mutex g_slotLock;
CaptureContext* g_slotOwner = nullptr;
std::unique_ptr<platform::PortalScreenSource> g_slot;

// What the program asked the next screen cast for (SetScreenCastRequest), and the
// token the last one gave.
std::mutex g_requestLock;
bool g_requested = false;
uint32_t g_sourceType = 1;
std::string g_requestToken;
std::string g_lastToken;

int32_t CopyOut(const std::string& text, char* out, int32_t capacity)
{
    if (out && capacity > 0) {
        const size_t n = std::min(text.size(), static_cast<size_t>(capacity) - 1);
        std::memcpy(out, text.data(), n);
        out[n] = '\0';
    }
    return static_cast<int32_t>(text.size());
}

std::string ReadToken(const std::string& path)
{
    std::ifstream in(path);
    std::string token;
    std::getline(in, token);
    return token;
}

// Replaces the file's content with the token through a renamed temporary, so a
// reader never sees half of it.
void WriteToken(const std::string& path, const std::string& token)
{
    const std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << token << '\n';
        if (!out.flush())
            return;
    }
    std::rename(temporary.c_str(), path.c_str());
}

}  // namespace

bool PrepareScreenSource(CaptureContext* context)
{
    const CaptureOptions* options = context->Options;
    if (!options->VideoEnabled || platform::ChooseScreenSource().kind != platform::ScreenSourceKind::Portal)
        return true;
    platform::ScreenCastRequest request;
    const char* tokenFile = std::getenv("TAVREC_PORTAL_TOKEN_FILE");
    {
        std::lock_guard<std::mutex> guard(g_requestLock);
        if (g_requested) {
            request.persist = true;
            request.sourceTypes = g_sourceType;
            request.restoreToken = g_requestToken;
            tokenFile = nullptr;  // the program keeps the token itself
        }
    }
    if (tokenFile && *tokenFile) {
        request.persist = true;
        request.restoreToken = ReadToken(tokenFile);
    }
    std::string error;
    auto source = platform::PortalScreenSource::Open(request, &error);
    if (!source) {
        ReportCaptureError(options->NotifyWindow, ("Failed to start the screen cast: " + error).c_str());
        return false;
    }
    if (tokenFile && *tokenFile && !source->RestoreToken().empty() && source->RestoreToken() != request.restoreToken)
        WriteToken(tokenFile, source->RestoreToken());
    {
        std::lock_guard<std::mutex> guard(g_requestLock);
        g_lastToken = source->RestoreToken();
    }
    std::lock_guard<std::mutex> guard(g_slotLock);
    g_slotOwner = context;
    g_slot = std::move(source);
    return true;
}

std::unique_ptr<platform::PortalScreenSource> TakePortalSource(CaptureContext* context)
{
    std::lock_guard<std::mutex> guard(g_slotLock);
    if (g_slotOwner != context)
        return nullptr;
    g_slotOwner = nullptr;
    return std::move(g_slot);
}

void DiscardPortalSource(CaptureContext* context)
{
    TakePortalSource(context).reset();
}

BitmapInfoHeader* PortalFrameFormat(const platform::PortalScreenSource& source)
{
    auto* header = static_cast<BitmapInfoHeader*>(std::calloc(1, 40));
    if (!header)
        return nullptr;
    header->biSize = 40;
    header->biWidth = source.Width();
    header->biHeight = source.Height();  // positive: rows run bottom-up
    header->biPlanes = 1;
    header->biBitCount = 32;
    header->biCompression = TAVREC_BI_RGB;
    header->biSizeImage = static_cast<uint32_t>(source.Width()) * 4 * static_cast<uint32_t>(source.Height());
    return header;
}

}  // namespace korvid

using namespace korvid;

KORVID_API int32_t GetScreenSource(char* reason, int32_t capacity)
{
    const platform::ScreenSourceChoice choice = platform::ChooseScreenSource();
    CopyOut(choice.reason, reason, capacity);
    return choice.kind == platform::ScreenSourceKind::Portal ? 1 : 0;
}

KORVID_API uint32_t GetScreenCastSourceTypes(void)
{
    return platform::PortalScreenCast::AvailableSourceTypes(nullptr);
}

KORVID_API void SetScreenCastRequest(uint32_t sourceType, const char* restoreToken)
{
    std::lock_guard<std::mutex> guard(g_requestLock);
    g_requested = true;
    g_sourceType = sourceType == 2 ? 2u : 1u;
    g_requestToken = restoreToken ? restoreToken : "";
}

KORVID_API int32_t GetScreenCastToken(char* token, int32_t capacity)
{
    std::lock_guard<std::mutex> guard(g_requestLock);
    return CopyOut(g_lastToken, token, capacity);
}
