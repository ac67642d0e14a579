// The free-space test of the disk watch: while a recording runs, the watch asks once a
// second whether the volume that holds the output file is nearly full.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Below this many usable bytes (20,000 KiB, "20 MB" to the user) the disk counts as full.
inline constexpr uint64_t DiskFullThreshold = 20480000;

// The question the watch asks after it has paused the recording.
inline constexpr const char* kDiskFullQuestion = "Disk is approximately full (20 MB empty), stop recording?";

// The folder that holds a file: "/rec/a.b/clip.avi" gives "/rec/a.b", "/clip.avi" gives
// "/", a bare name (or an empty text) gives ".".
std::string FolderOfFile(const std::string& path);

// Bytes an unprivileged writer can still put on the volume of the folder
// (f_bavail × f_frsize: blocks reserved for root are not counted). A folder that does
// not exist is measured at its nearest existing parent, since that is where it would
// be created. nullopt when even that cannot be measured.
std::optional<uint64_t> UsableBytes(const std::string& folder);

// True when the volume of the folder has fewer than DiskFullThreshold usable bytes.
// A volume that cannot be measured counts as having room: the watch never pauses a
// recording on a guess, and a write that really fails stops the recording itself.
bool IsDiskAlmostFull(const std::string& folder);
