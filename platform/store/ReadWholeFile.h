// The whole content of a regular file, read in one go.
#pragma once

#include <string>

namespace platform {

enum class FileReadResult {
    Ok,
    Missing,  // no such file, or a folder on the way is missing or is a file
    Failed,   // *error says why (also when the path names something other than a regular file)
};

FileReadResult ReadWholeFile(const std::string& path, std::string* out, std::string* error);

}  // namespace platform
