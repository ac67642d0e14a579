// korvid-rec's --list-codecs and --list-audio: what can be named after --codec and
// --audio, printed one entry a line.
#pragma once

namespace tools {

// The compressor descriptions (characters past ASCII printed as '?'); returns 0.
int ListCodecs();
// The sound capture devices, each followed by its formats; 1 (with a message on
// stderr) when there is none.
int ListAudio();

}  // namespace tools
