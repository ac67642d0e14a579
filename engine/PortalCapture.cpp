#include "engine/PortalCapture.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>

#include "engine/LastError.h"
#include "platform/portal/ScreenSourceChoice.h"

namespace korvid {

namespace {

// One recording at a time per process: one slot.
std::mutex g_slotLock;
CaptureContext* g_slotOwner = nullptr;
std::unique_ptr<platform::PortalScreenSource> g_slot;

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
