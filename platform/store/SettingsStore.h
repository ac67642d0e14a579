// Keys and named values kept in one text file in the registry's export format.
//
//     REGEDIT4
//
//     [HKEY_LOCAL_MACHINE\SOFTWARE\KELDAN\TAVREC]
//     "PenSize"=dword:00000001
//     "PenColor"=hex:01,00,00,00
//     "SavedFile"="/home/me/capture.avi"
//
// One [section] per key, one line per value; value types are kept exactly
// (REG_DWORD as dword:, REG_BINARY as hex:, REG_SZ as a quoted UTF-8 text with
// backslash and quote escaped as \\ and \", any other type as hex(N):), so a
// value of an unexpected type is seen as such. A text that cannot be written
// between quotes (one holding a line break or other control character) is written
// as hex(1): and read back unchanged.
//
// The file is $XDG_CONFIG_HOME/tavrec/registry.reg (~/.config/tavrec/registry.reg),
// or the file TAVREC_REGISTRY names. Its folder is created (mode 0700) when missing.
//
// Opening a key reads the file once; the values of the open key are answered from
// that reading until the key is closed or this accessor writes. Reading never
// changes the file. Every write takes an exclusive flock on "<file>.lock", reads the
// file afresh (so values another process wrote meanwhile are kept), applies the one
// change and replaces the file atomically: the whole text goes to "<file>.tmp",
// which is flushed to disk and renamed over the file. A killed writer therefore
// leaves the previous file whole. A symbolic link in place of the file is followed,
// so the file it points to is the one replaced.
//
// A file that cannot be parsed is reported with its line number and is never
// overwritten: every write refuses to run until the file is mended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/store/RegistryKeys.h"

namespace platform {

class SettingsStore {
public:
    enum class ErrorKind {
        None,
        NotFound,  // no such key or value
        Parse,     // the file is not in the registry export format (see ParseErrorLine)
        Read,      // the file exists but cannot be read
        Write,     // the file (or its folder, lock or temporary file) cannot be written
        BadName,   // a key or value name the file format cannot hold
        NoKey,     // no key is open
        WrongType, // the value exists with another type or size than asked for
    };

    // TAVREC_REGISTRY if set and not empty, else $XDG_CONFIG_HOME/tavrec/registry.reg
    // (when that variable holds an absolute path), else ~/.config/tavrec/registry.reg.
    // Empty when no home folder can be found.
    static std::string DefaultPath();

    // A store over DefaultPath().
    SettingsStore();
    explicit SettingsStore(std::string path);
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    const std::string& Path() const { return path_; }

    // The root that key paths start from, "HKEY_CURRENT_USER" until set.
    void SetRootKey(std::string root);
    const std::string& RootKey() const { return root_; }

    // Opens a key: a path starting with a backslash is taken from the root, any other
    // from the open key (or from the root when none is open). With canCreate a missing
    // key is created, which writes the file. False when the file cannot be read or
    // parsed, when the key is missing and not to be created, or when creating it fails.
    bool OpenKey(std::string_view path, bool canCreate);
    void CloseKey();
    bool HasOpenKey() const { return keyOpen_; }
    // Full name of the open key as its section header shows it.
    const std::string& CurrentKey() const { return currentKey_; }
    // Whether a key exists (itself or as the parent of a stored key).
    bool KeyExists(std::string_view path);

    // Queries on the open key.
    bool ValueExists(std::string_view name) const;
    // Type and data of a value; false (NotFound) when it does not exist.
    bool GetValue(std::string_view name, RegValue* out) const;
    // Typed reads: false with WrongType when the value is of another type
    // (a REG_DWORD must also hold exactly 4 bytes).
    bool ReadDword(std::string_view name, uint32_t* out) const;
    bool ReadBinary(std::string_view name, std::vector<uint8_t>* out) const;
    // REG_SZ or REG_EXPAND_SZ; the text up to its first zero byte.
    bool ReadString(std::string_view name, std::string* out) const;
    // All value names of the open key, in file order.
    std::vector<std::string> ValueNames() const;

    // Writes on the open key; each one replaces the file (see above).
    bool WriteValue(std::string_view name, const RegValue& value);
    bool WriteDword(std::string_view name, uint32_t value);
    bool WriteBinary(std::string_view name, const void* data, size_t size);
    // The text up to its first zero byte, stored as REG_SZ.
    bool WriteString(std::string_view name, std::string_view text);
    // False (NotFound) when the value does not exist; the file is then left alone.
    bool DeleteValue(std::string_view name);

    const std::string& LastError() const { return lastError_; }
    ErrorKind LastErrorKind() const { return lastErrorKind_; }
    // Line of the file that could not be parsed (1-based), 0 when the last error was
    // not a parse error.
    int ParseErrorLine() const { return parseErrorLine_; }

private:
    // Reads and parses the file into doc_ (a missing or empty file is an empty store).
    bool Load();
    // Reads and parses that file into *out (nothing when it is missing).
    bool ReadInto(const std::string& file, RegistryKeys* out) const;
    // Under the lock: reads the file afresh, applies change, replaces the file.
    // The change returns false (with its reason) to cancel the write.
    bool Mutate(const std::function<bool(RegistryKeys&, std::string*)>& change);
    std::string Resolve(std::string_view path) const;
    bool Fail(ErrorKind kind, std::string text, int line = 0) const;

    std::string path_;
    std::string root_ = "HKEY_CURRENT_USER";
    std::string currentKey_;
    bool keyOpen_ = false;
    std::unique_ptr<RegistryKeys> doc_;  // the last reading of the file
    mutable std::string lastError_;
    mutable ErrorKind lastErrorKind_ = ErrorKind::None;
    mutable int parseErrorLine_ = 0;
};

}  // namespace platform
