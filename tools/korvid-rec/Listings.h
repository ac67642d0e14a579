// korvid-rec's --list-codecs, --list-audio and --list-sources: what can be named
// after --codec, --audio and --source, printed one entry a line.
#pragma once

#include <string>

#include "platform/portal/ScreenSourceChoice.h"

namespace tools {

// The compressor descriptions (characters past ASCII printed as '?'); returns 0.
int ListCodecs();
// The sound capture devices, each followed by its formats; 1 (with a message on
// stderr) when there is none.
int ListAudio();
// The screen sources, then the one `source` (auto, portal or x11) comes to and why;
// returns 0.
int ListSources(const std::string& source);
// The screen source `source` comes to: auto follows TAVREC_SCREEN_SOURCE, then the
// session (platform/portal/ScreenSourceChoice.h).
platform::ScreenSourceChoice ChooseSource(const std::string& source);

}  // namespace tools
