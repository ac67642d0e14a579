// The registry export format (REGEDIT4) as text in memory: keys, their named values,
// and the conversion from and to the file's text. No file access here.
//
// Read: an optional UTF-8 byte-order mark, the header line "REGEDIT4", then
// [key] lines and "Name"=data lines (@=data for the unnamed value); data is
// "text" (\\ and \" escaped), dword:XXXXXXXX, hex:xx,xx,... or hex(N):xx,...; a hex
// list may continue on the next line after a trailing backslash. Blank lines and
// lines starting with ';' are skipped; CR LF line ends are accepted. Key and value
// names compare without regard to ASCII letter case, as the registry's do.
//
// Written: "REGEDIT4", a blank line, then each key as its [section] with its values
// and a blank line; LF line ends; hex lists wrapped after 80 columns as regedit does.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Registry value types (their numbers are the ones hex(N): spells out).
enum class RegType : uint32_t {
    None = 0,
    String = 1,        // REG_SZ
    ExpandString = 2,  // REG_EXPAND_SZ
    Binary = 3,        // REG_BINARY
    Dword = 4,         // REG_DWORD, little-endian
    MultiString = 7,   // REG_MULTI_SZ
    Qword = 11,        // REG_QWORD
};

// A value as the registry holds it: its type and its data bytes. The data of a
// REG_SZ value includes its terminating zero byte.
struct RegValue {
    RegType type = RegType::None;
    std::vector<uint8_t> data;

    bool operator==(const RegValue&) const = default;
};

bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b);

struct RegistryDocument {
    struct NamedValue {
        std::string name;  // "" is the key's unnamed (default) value, written as @
        RegValue value;
    };
    struct Key {
        std::string name;  // full path, e.g. HKEY_LOCAL_MACHINE\SOFTWARE\KELDAN\TAVREC
        std::vector<NamedValue> values;

        NamedValue* Find(std::string_view valueName);
        const NamedValue* Find(std::string_view valueName) const;
        // Sets the value, replacing one of the same name in its place.
        void Set(std::string_view valueName, RegValue value);
        bool Remove(std::string_view valueName);
    };

    std::vector<Key> keys;

    Key* FindKey(std::string_view name);
    const Key* FindKey(std::string_view name) const;
    // The key itself or any key below it is present.
    bool HasKeyOrDescendant(std::string_view name) const;
    // The key of that name, appended empty when missing.
    Key& AddKey(std::string_view name);

    // Parses a whole file. On failure *errorLine is the 1-based line at fault and
    // *error says what is wrong with it; *out is then unspecified.
    static bool Parse(std::string_view text, RegistryDocument* out, int* errorLine, std::string* error);
    std::string Serialize() const;
};

// A key or value name the format can hold: no control characters (a key name also
// not empty and without a leading '-'). False with the reason otherwise.
bool IsStorableKeyName(std::string_view name, std::string* why);
bool IsStorableValueName(std::string_view name, std::string* why);

}  // namespace platform
