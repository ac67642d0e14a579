#include "platform/audio/AudioCapture.h"

#include "platform/audio/PulseCaptureDevice.h"
#include "platform/audio/PulseConnection.h"

namespace platform {

namespace {

// What the list shows for the entry without an id: the server's default source,
// whichever source that is when a recording starts.
constexpr const char* kDefaultSourceDescription = "Default source";

struct SourceList {
    std::vector<AudioDevice>* devices;
    bool done = false;
};

void OnSourceInfo(pa_context*, const pa_source_info* info, int eol, void* arg) {
    auto* list = static_cast<SourceList*>(arg);
    if (eol) {
        list->done = eol > 0;
        return;
    }
    if (info)
        list->devices->push_back({info->description ? info->description : info->name, info->name});
}

struct SourceLookup {
    bool found = false;
};

void OnSourceFound(pa_context*, const pa_source_info* info, int eol, void* arg) {
    if (!eol && info) static_cast<SourceLookup*>(arg)->found = true;
}

struct ServerInfo {
    std::string defaultSource;
};

void OnServerInfo(pa_context*, const pa_server_info* info, void* arg) {
    if (info && info->default_source_name)
        static_cast<ServerInfo*>(arg)->defaultSource = info->default_source_name;
}

bool Fail(std::string* error, std::string text) {
    if (error) *error = std::move(text);
    return false;
}

// Whether the source of that name exists. False also when the server does not answer.
bool SourceExists(PulseConnection& connection, const std::string& name, std::string* error) {
    SourceLookup lookup;
    if (!connection.Finish(pa_context_get_source_info_by_name(connection.Context(), name.c_str(), &OnSourceFound, &lookup)) &&
        !connection.Good())
        return Fail(error, "Lost the connection to the sound server: " + connection.ErrorText());
    if (!lookup.found) return Fail(error, "There is no sound source named \"" + name + "\"");
    return true;
}

}  // namespace

bool AudioCapture::EnumerateDevices(std::vector<AudioDevice>* devices, std::string* error) {
    if (!devices) return Fail(error, "EnumerateDevices needs a list to fill");
    devices->clear();
    auto connection = PulseConnection::Connect(error);
    if (!connection) return false;
    PulseConnection::Lock lock(*connection);

    std::vector<AudioDevice> sources;
    SourceList list{&sources};
    if (!connection->Finish(pa_context_get_source_info_list(connection->Context(), &OnSourceInfo, &list)) || !list.done)
        return Fail(error, "The sound server did not list its sources: " + connection->ErrorText());
    if (sources.empty()) return true;  // nothing to record from, not even a default
    devices->push_back({kDefaultSourceDescription, std::string()});
    devices->insert(devices->end(), sources.begin(), sources.end());
    return true;
}

uint64_t AudioCapture::ClockUs() {
    return pa_rtclock_now();
}

std::unique_ptr<CaptureDevice> AudioCapture::Open(const std::string& id, std::string* error) {
    auto connection = PulseConnection::Connect(error);
    if (!connection) return nullptr;
    {
        PulseConnection::Lock lock(*connection);
        if (id.empty()) {
            ServerInfo server;
            if (!connection->Finish(pa_context_get_server_info(connection->Context(), &OnServerInfo, &server))) {
                Fail(error, "The sound server did not answer: " + connection->ErrorText());
                return nullptr;
            }
            if (server.defaultSource.empty()) {
                Fail(error, "The sound server has no default source");
                return nullptr;
            }
            if (!SourceExists(*connection, server.defaultSource, error)) return nullptr;
        } else if (!SourceExists(*connection, id, error)) {
            return nullptr;
        }
    }
    return std::make_unique<PulseCaptureDevice>(std::move(connection), id);
}

}  // namespace platform
