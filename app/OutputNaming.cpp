#include "app/OutputNaming.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

bool PathExists(const std::string& path)
{
    struct stat info {};
    return !path.empty() && lstat(path.c_str(), &info) == 0;
}

std::string NumberedName(const std::string& savedFile)
{
    const size_t slash = savedFile.rfind('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = savedFile.find('.', nameStart);
    const std::string stem = savedFile.substr(0, dot == std::string::npos ? savedFile.size() : dot);
    for (unsigned long n = 1;; ++n) {
        std::string name = stem + std::to_string(n) + ".avi";
        if (!PathExists(name))
            return name;
    }
}

std::string DefaultRecordingFile(std::string* createdFolder)
{
    if (createdFolder)
        createdFolder->clear();
    std::string folder;
    if (const char* videos = std::getenv("XDG_VIDEOS_DIR"); videos && *videos)
        folder = videos;
    else if (const char* home = std::getenv("HOME"); home && *home)
        folder = std::string(home) + "/Videos";
    else
        return {};
    std::error_code error;
    const bool made = std::filesystem::create_directories(folder, error);
    if (made && createdFolder)
        *createdFolder = folder;
    if (!std::filesystem::is_directory(folder, error))
        return {};
    return folder + "/tavrec.avi";
}
