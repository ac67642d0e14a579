// korvid-rec's command line: what to record, how, and into which file.
#pragma once

#include <cstdint>
#include <string>

#include "platform/WinTypes.h"
#include "settings/AudioDevices.h"

namespace tools {

struct Options {
    std::string window = "root";  // root, under-pointer or a window id, as given
    bool region = false;  // --region: a fixed rectangle of the screen instead of a window
    int32_t regionLeft = 0, regionTop = 0, regionWidth = 0, regionHeight = 0;
    unsigned long long fps = 15;
    std::string codec = "Uncompress";
    bool speedup = false;  // Speedup Mode: slots without change are empty positions
    double seconds = 0;  // 0: until stopped
    std::string file;
    bool withAudio = false;
    std::string audio;
    std::string audio2;  // a second device mixed with the first; empty: none
    WaveFormatEx audioFormat = settings::PcmFormat(22050, 2, 16);
    std::string source = "auto";  // auto, portal or x11
    std::string portalTokenFile;  // where the portal's restore token is kept; empty: nowhere
};

// What ParseOptions returns when the options ask for a recording.
constexpr int kRecord = -1;

// Reads the options into *options. Returns kRecord, or the exit status to end with
// at once: after --help, --list-codecs, --list-audio or --list-sources (which print
// what they ask for) or, with a message on stderr, for bad arguments.
int ParseOptions(int argc, char** argv, Options* options);

// A whole unsigned number, decimal or 0x hex; false for anything else.
bool ParseUnsigned(const char* text, unsigned long long* value);

}  // namespace tools
