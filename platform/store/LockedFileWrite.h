// One replacement of a file that other processes may replace too, made whole or not
// at all.
//
// Lock() creates the file's folder (and missing parents, mode 0700) and takes an
// exclusive flock on "<file>.lock", held until the object goes, so the writers of the
// file take turns. Replace() writes the new text to "<file>.tmp", flushes it to disk
// and renames it over the file, so a writer killed at any point leaves either the old
// file or the new one, whole. The new file keeps the old one's permission bits (0600
// when there was none). A symbolic link in place of the file is followed, so the file
// it points to is the one replaced.
#pragma once

#include <string>
#include <string_view>

#include "platform/UniqueFd.h"

namespace platform {

class LockedFileWrite {
public:
    explicit LockedFileWrite(const std::string& path);
    LockedFileWrite(const LockedFileWrite&) = delete;
    LockedFileWrite& operator=(const LockedFileWrite&) = delete;

    // The file that is replaced: the path with its symbolic links followed.
    const std::string& Target() const { return target_; }

    // False with what failed (the folder, the lock file or the lock).
    bool Lock(std::string* error);
    // Under the lock: replaces the file with text. False with what failed; the
    // file is then unchanged and the temporary file removed.
    bool Replace(std::string_view text, std::string* error);

private:
    std::string target_;
    std::string dir_;
    UniqueFd lock_;
};

}  // namespace platform
