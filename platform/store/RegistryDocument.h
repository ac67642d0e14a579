// The registry export format (REGEDIT4): the conversion of the keys and values in
// memory (RegistryKeys) from and to the settings file's text. No file access here.
//
// Read: an optional UTF-8 byte-order mark, the header line "REGEDIT4", then
// [key] lines and "Name"=data lines (@=data for the unnamed value); data is
// "text" (\\ and \" escaped), dword:XXXXXXXX, hex:xx,xx,... or hex(N):xx,...; a hex
// list may continue on the next line after a trailing backslash. Blank lines and
// lines starting with ';' are skipped; CR LF line ends are accepted.
//
// Written: "REGEDIT4", a blank line, then each key as its [section] with its values
// and a blank line; LF line ends; hex lists wrapped after 80 columns as regedit does.
#pragma once

#include <string>
#include <string_view>

#include "platform/store/RegistryKeys.h"

namespace platform {

struct RegistryDocument {
    // Parses a whole file. On failure *errorLine is the 1-based line at fault and
    // *error says what is wrong with it; *out is then unspecified.
    static bool Parse(std::string_view text, RegistryKeys* out, int* errorLine, std::string* error);
    static std::string Serialize(const RegistryKeys& keys);
};

// A key or value name the format can hold: no control characters (a key name also
// not empty and without a leading '-'). False with the reason otherwise.
bool IsStorableKeyName(std::string_view name, std::string* why);
bool IsStorableValueName(std::string_view name, std::string* why);

}  // namespace platform
