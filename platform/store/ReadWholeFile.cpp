#include "platform/store/ReadWholeFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/UniqueFd.h"

namespace platform {

FileReadResult ReadWholeFile(const std::string& path, std::string* out, std::string* error) {
    out->clear();
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) {
        // A folder on the way that is missing or is a file: there is no such file yet.
        if (errno == ENOENT || errno == ENOTDIR) return FileReadResult::Missing;
        *error = std::strerror(errno);
        return FileReadResult::Failed;
    }
    struct stat st;
    if (::fstat(fd.Get(), &st) != 0) {
        *error = std::strerror(errno);
        return FileReadResult::Failed;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = "not a regular file";
        return FileReadResult::Failed;
    }
    char buf[16384];
    while (true) {
        ssize_t n = ::read(fd.Get(), buf, sizeof buf);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            *error = std::strerror(errno);
            return FileReadResult::Failed;
        }
        out->append(buf, size_t(n));
    }
    return FileReadResult::Ok;
}

}  // namespace platform
