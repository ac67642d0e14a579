// The registry's keys and their named values in memory, in the order the settings
// file lists them. No text format and no file access here.
//
// Key and value names compare without regard to ASCII letter case, as the
// registry's do.
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

struct RegistryKeys {
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
};

}  // namespace platform
