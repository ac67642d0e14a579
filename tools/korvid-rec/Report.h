// What korvid-rec tells on stderr about a recording: the library's message when it
// fails, and at the end the frames stored and dropped and how long picture and sound
// came out.
#pragma once

#include "tools/korvid-rec/FrameCounter.h"

namespace tools {

// "korvid-rec: <what>: <the library's last error>".
void PrintError(const char* what);
// The frame counts, then the stream lengths read back from the finished file.
void PrintReport(const char* file, const FrameCounter& counter);

}  // namespace tools
