#include "platform/store/LockedFileWrite.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Set to N (a number from 1) to make this process stop itself with SIGSTOP in its
// N-th write, once the new text is flushed to the temporary file and before it is
// renamed over the old file, so a test can kill a writer at exactly that point.
constexpr const char* kStopBeforeRenameVariable = "TAVREC_REGISTRY_STOP_BEFORE_RENAME";

void StopHereIfAsked() {
    static std::atomic<long> writes{0};
    const char* value = std::getenv(kStopBeforeRenameVariable);
    if (!value || !*value) return;
    long wanted = std::strtol(value, nullptr, 10);
    if (++writes == (wanted < 1 ? 1 : wanted)) ::raise(SIGSTOP);
}

std::string Errno(int err) { return std::strerror(err); }

std::string DirName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Creates the folder and any missing parents with mode 0700.
bool MakeFolders(const std::string& dir, std::string* error) {
    struct stat st;
    if (::stat(dir.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return true;
        *error = dir + " is not a folder";
        return false;
    }
    if (errno != ENOENT && errno != ENOTDIR) {  // ENOTDIR: the parent check below names the culprit
        *error = dir + ": " + Errno(errno);
        return false;
    }
    std::string parent = DirName(dir);
    if (parent != dir && !MakeFolders(parent, error)) return false;
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        *error = "cannot create the folder " + dir + ": " + Errno(errno);
        return false;
    }
    return true;
}

// Follows symbolic links (also dangling ones) to the file they name.
std::string FollowLinks(const std::string& path) {
    std::string current = path;
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st;
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
        std::string target(size_t(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
        if (n < 0) return current;
        target.resize(size_t(n));
        current = (!target.empty() && target[0] == '/') ? target : DirName(current) + "/" + target;
    }
    return current;
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(size_t(n));
    }
    return true;
}

}  // namespace

LockedFileWrite::LockedFileWrite(const std::string& path) : target_(FollowLinks(path)), dir_(DirName(target_)) {}

bool LockedFileWrite::Lock(std::string* error) {
    if (!MakeFolders(dir_, error)) return false;
    const std::string lockPath = target_ + ".lock";
    lock_.Reset(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!lock_.Valid()) {
        *error = "cannot open the lock file " + lockPath + ": " + Errno(errno);
        return false;
    }
    while (::flock(lock_.Get(), LOCK_EX) != 0) {
        if (errno != EINTR) {
            *error = "cannot lock " + lockPath + ": " + Errno(errno);
            return false;
        }
    }
    return true;
}

bool LockedFileWrite::Replace(std::string_view text, std::string* error) {
    mode_t mode = 0600;
    struct stat st;
    if (::stat(target_.c_str(), &st) == 0) mode = st.st_mode & 07777;

    const std::string tmpPath = target_ + ".tmp";
    {
        UniqueFd tmp(::open(tmpPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!tmp.Valid()) {
            *error = "cannot create " + tmpPath + ": " + Errno(errno);
            return false;
        }
        bool ok = ::fchmod(tmp.Get(), mode) == 0 && WriteAll(tmp.Get(), text) && ::fsync(tmp.Get()) == 0;
        int err = errno;
        ok = tmp.Close() && ok;
        if (!ok) {
            ::unlink(tmpPath.c_str());
            *error = tmpPath + ": " + Errno(err ? err : errno);
            return false;
        }
    }

    StopHereIfAsked();

    if (::rename(tmpPath.c_str(), target_.c_str()) != 0) {
        int err = errno;
        ::unlink(tmpPath.c_str());
        *error = "cannot replace it: " + Errno(err);
        return false;
    }
    // Make the rename itself durable.
    if (UniqueFd dirFd(::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); dirFd.Valid()) ::fsync(dirFd.Get());
    return true;
}

}  // namespace platform
