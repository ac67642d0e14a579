// The length in seconds of every stream of a finished AVI file, read from its stream
// headers (length × scale / rate), so a recorder can show how long sound and picture
// came out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tools {

struct StreamDuration {
    uint32_t type = 0;  // 'vids', 'auds', ...
    double seconds = 0;
};

// False with the reason in *error when the file cannot be read or is no AVI file.
bool ReadStreamDurations(const std::string& path, std::vector<StreamDuration>* streams, std::string* error);

}  // namespace tools
