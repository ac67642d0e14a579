#include "platform/store/SettingsStore.h"

#include <algorithm>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

#include "platform/store/LockedFileWrite.h"
#include "platform/store/ReadWholeFile.h"
#include "platform/store/RegistryDocument.h"

namespace platform {

namespace {

std::string NormaliseKeyPath(std::string_view path) {
    std::string out;
    size_t i = 0;
    while (i < path.size()) {
        size_t next = path.find('\\', i);
        std::string_view part = path.substr(i, next == std::string_view::npos ? std::string_view::npos : next - i);
        if (!part.empty()) {
            if (!out.empty()) out += '\\';
            out += part;
        }
        if (next == std::string_view::npos) break;
        i = next + 1;
    }
    return out;
}

}  // namespace

std::string SettingsStore::DefaultPath() {
    if (const char* explicitPath = std::getenv("TAVREC_REGISTRY"); explicitPath && *explicitPath) return explicitPath;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/')
        return std::string(config) + "/tavrec/registry.reg";
    std::string home;
    if (const char* h = std::getenv("HOME"); h && *h) {
        home = h;
    } else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && *pw->pw_dir) {
        home = pw->pw_dir;
    }
    if (home.empty()) return {};
    return home + "/.config/tavrec/registry.reg";
}

SettingsStore::SettingsStore() : SettingsStore(DefaultPath()) {}

SettingsStore::SettingsStore(std::string path) : path_(std::move(path)) {}

SettingsStore::~SettingsStore() = default;

void SettingsStore::SetRootKey(std::string root) { root_ = NormaliseKeyPath(root); }

bool SettingsStore::Fail(ErrorKind kind, std::string text, int line) const {
    lastErrorKind_ = kind;
    lastError_ = std::move(text);
    parseErrorLine_ = line;
    return false;
}

std::string SettingsStore::Resolve(std::string_view path) const {
    if (!path.empty() && path.front() == '\\') return NormaliseKeyPath(root_ + std::string(path));
    const std::string& base = keyOpen_ ? currentKey_ : root_;
    return NormaliseKeyPath(base + "\\" + std::string(path));
}

bool SettingsStore::ReadInto(const std::string& file, RegistryKeys* out) const {
    std::string text, error;
    switch (ReadWholeFile(file, &text, &error)) {
    case FileReadResult::Failed:
        return Fail(ErrorKind::Read, "Cannot read the settings file " + file + ": " + error);
    case FileReadResult::Missing:
        break;
    case FileReadResult::Ok: {
        int line = 0;
        if (!RegistryDocument::Parse(text, out, &line, &error))
            return Fail(ErrorKind::Parse, "Settings file " + file + ", line " + std::to_string(line) + ": " + error, line);
        break;
    }
    }
    return true;
}

bool SettingsStore::Load() {
    if (path_.empty()) return Fail(ErrorKind::Read, "No place for the settings file: neither TAVREC_REGISTRY nor a home folder is set");
    auto doc = std::make_unique<RegistryKeys>();
    if (!ReadInto(path_, doc.get())) return false;
    doc_ = std::move(doc);
    return true;
}

bool SettingsStore::Mutate(const std::function<bool(RegistryKeys&, std::string*)>& change) {
    if (path_.empty()) return Fail(ErrorKind::Write, "No place for the settings file: neither TAVREC_REGISTRY nor a home folder is set");
    LockedFileWrite write(path_);
    std::string error;
    auto writeFailure = [&](const std::string& what) {
        return Fail(ErrorKind::Write, "Cannot write the settings file " + write.Target() + ": " + what);
    };
    if (!write.Lock(&error)) return writeFailure(error);

    // Read afresh under the lock, so another process's writes are kept.
    auto fresh = std::make_unique<RegistryKeys>();
    if (!ReadInto(write.Target(), fresh.get())) return false;

    if (!change(*fresh, &error)) return Fail(ErrorKind::NotFound, error);
    if (!write.Replace(RegistryDocument::Serialize(*fresh), &error)) return writeFailure(error);

    doc_ = std::move(fresh);
    return true;
}

bool SettingsStore::OpenKey(std::string_view path, bool canCreate) {
    std::string full = Resolve(path);
    std::string why;
    if (!IsStorableKeyName(full, &why)) return Fail(ErrorKind::BadName, "Bad key name \"" + full + "\": " + why);
    if (!Load()) return false;
    if (!doc_->HasKeyOrDescendant(full)) {
        if (!canCreate) return Fail(ErrorKind::NotFound, "No key " + full);
        if (!Mutate([&](RegistryKeys& d, std::string*) {
                d.AddKey(full);
                return true;
            }))
            return false;
    }
    currentKey_ = std::move(full);
    keyOpen_ = true;
    return true;
}

void SettingsStore::CloseKey() {
    keyOpen_ = false;
    currentKey_.clear();
    doc_.reset();
}

bool SettingsStore::KeyExists(std::string_view path) {
    std::string full = Resolve(path);
    if (!Load()) return false;
    return doc_->HasKeyOrDescendant(full);
}

bool SettingsStore::ValueExists(std::string_view name) const {
    if (!keyOpen_ || !doc_) return false;
    const RegistryKeys::Key* key = doc_->FindKey(currentKey_);
    return key && key->Find(name);
}

bool SettingsStore::GetValue(std::string_view name, RegValue* out) const {
    if (!keyOpen_ || !doc_) return Fail(ErrorKind::NoKey, "No key is open");
    const RegistryKeys::Key* key = doc_->FindKey(currentKey_);
    const RegistryKeys::NamedValue* v = key ? key->Find(name) : nullptr;
    if (!v) return Fail(ErrorKind::NotFound, "No value \"" + std::string(name) + "\" in " + currentKey_);
    *out = v->value;
    return true;
}

bool SettingsStore::ReadDword(std::string_view name, uint32_t* out) const {
    RegValue v;
    if (!GetValue(name, &v)) return false;
    if (v.type != RegType::Dword || v.data.size() != 4)
        return Fail(ErrorKind::WrongType, "Value \"" + std::string(name) + "\" is not a REG_DWORD");
    *out = uint32_t(v.data[0]) | uint32_t(v.data[1]) << 8 | uint32_t(v.data[2]) << 16 | uint32_t(v.data[3]) << 24;
    return true;
}

bool SettingsStore::ReadBinary(std::string_view name, std::vector<uint8_t>* out) const {
    RegValue v;
    if (!GetValue(name, &v)) return false;
    if (v.type != RegType::Binary) return Fail(ErrorKind::WrongType, "Value \"" + std::string(name) + "\" is not a REG_BINARY");
    *out = std::move(v.data);
    return true;
}

bool SettingsStore::ReadString(std::string_view name, std::string* out) const {
    RegValue v;
    if (!GetValue(name, &v)) return false;
    if (v.type != RegType::String && v.type != RegType::ExpandString)
        return Fail(ErrorKind::WrongType, "Value \"" + std::string(name) + "\" is not a REG_SZ");
    auto end = std::find(v.data.begin(), v.data.end(), uint8_t(0));
    out->assign(v.data.begin(), end);
    return true;
}

std::vector<std::string> SettingsStore::ValueNames() const {
    std::vector<std::string> names;
    if (!keyOpen_ || !doc_) return names;
    if (const RegistryKeys::Key* key = doc_->FindKey(currentKey_))
        for (const auto& v : key->values) names.push_back(v.name);
    return names;
}

bool SettingsStore::WriteValue(std::string_view name, const RegValue& value) {
    if (!keyOpen_) return Fail(ErrorKind::NoKey, "No key is open");
    std::string why;
    if (!IsStorableValueName(name, &why)) return Fail(ErrorKind::BadName, "Bad value name \"" + std::string(name) + "\": " + why);
    return Mutate([&](RegistryKeys& d, std::string*) {
        d.AddKey(currentKey_).Set(name, value);
        return true;
    });
}

bool SettingsStore::WriteDword(std::string_view name, uint32_t value) {
    return WriteValue(name, {RegType::Dword, {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)}});
}

bool SettingsStore::WriteBinary(std::string_view name, const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    return WriteValue(name, {RegType::Binary, std::vector<uint8_t>(bytes, bytes + size)});
}

bool SettingsStore::WriteString(std::string_view name, std::string_view text) {
    text = text.substr(0, text.find('\0'));
    RegValue v{RegType::String, std::vector<uint8_t>(text.begin(), text.end())};
    v.data.push_back(0);
    return WriteValue(name, v);
}

bool SettingsStore::DeleteValue(std::string_view name) {
    if (!keyOpen_) return Fail(ErrorKind::NoKey, "No key is open");
    if (!ValueExists(name)) return Fail(ErrorKind::NotFound, "No value \"" + std::string(name) + "\" in " + currentKey_);
    return Mutate([&](RegistryKeys& d, std::string* why) {
        RegistryKeys::Key* key = d.FindKey(currentKey_);
        if (key && key->Remove(name)) return true;
        *why = "No value \"" + std::string(name) + "\" in " + currentKey_;
        return false;
    });
}

}  // namespace platform
