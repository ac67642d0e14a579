#include "app/DiskSpace.h"

#include <sys/statvfs.h>

std::string FolderOfFile(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::optional<uint64_t> UsableBytes(const std::string& folder)
{
    std::string probe = folder.empty() ? "." : folder;
    for (;;) {
        struct statvfs info {};
        if (statvfs(probe.c_str(), &info) == 0)
            return static_cast<uint64_t>(info.f_bavail) * static_cast<uint64_t>(info.f_frsize);
        if (probe == "/" || probe == ".")
            return std::nullopt;
        // Strip trailing slashes, then the last component.
        while (probe.size() > 1 && probe.back() == '/')
            probe.pop_back();
        probe = FolderOfFile(probe);
    }
}

bool IsDiskAlmostFull(const std::string& folder)
{
    const std::optional<uint64_t> usable = UsableBytes(folder);
    return usable && *usable < DiskFullThreshold;
}
