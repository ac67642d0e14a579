// Choosing the file a recording goes to.
#pragma once

#include <optional>
#include <string>

// True when something of that name exists (a folder counts).
bool PathExists(const std::string& path);

// The first free numbered name of `savedFile`: the file name cut at its first ".",
// then 1, 2, 3 ... and ".avi", in the folder of `savedFile`. "/rec/a.b/clip.avi"
// gives "/rec/a.b/clip1.avi"; a name without "." gives "name1.avi".
std::string NumberedName(const std::string& savedFile);

// The name used when no file was configured: $XDG_VIDEOS_DIR (or ~/Videos)/tavrec.avi,
// its folder created. Empty when no folder can be found or made. *createdFolder, when
// given, is the folder when this call made it, else empty.
std::string DefaultRecordingFile(std::string* createdFolder = nullptr);
