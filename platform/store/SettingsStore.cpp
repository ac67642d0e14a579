#include "platform/store/SettingsStore.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/UniqueFd.h"

namespace platform {

namespace {

// Set to N (a number from 1) to make this process stop itself with SIGSTOP in its
// N-th write, once the new text is flushed to the temporary file and before it is
// renamed over the old file, so a test can kill a writer at exactly that point.
constexpr const char* kStopBeforeRenameVariable = "TAVREC_REGISTRY_STOP_BEFORE_RENAME";

void StopHereIfAsked() {
    static std::atomic<long> writes{0};
    const char* value = std::getenv(kStopBeforeRenameVariable);
    if (!value || !*value) return;
    long wanted = std::strtol(value, nullptr, 10);
    if (++writes == (wanted < 1 ? 1 : wanted)) ::raise(SIGSTOP);
}

std::string Errno(int err) { return std::strerror(err); }

std::string DirName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Creates the folder and any missing parents with mode 0700.
bool MakeFolders(const std::string& dir, std::string* error) {
    struct stat st;
    if (::stat(dir.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return true;
        *error = dir + " is not a folder";
        return false;
    }
    if (errno != ENOENT && errno != ENOTDIR) {  // ENOTDIR: the parent check below names the culprit
        *error = dir + ": " + Errno(errno);
        return false;
    }
    std::string parent = DirName(dir);
    if (parent != dir && !MakeFolders(parent, error)) return false;
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        *error = "cannot create the folder " + dir + ": " + Errno(errno);
        return false;
    }
    return true;
}

// Follows symbolic links (also dangling ones) to the file they name.
std::string FollowLinks(const std::string& path) {
    std::string current = path;
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st;
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
        std::string target(size_t(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
        if (n < 0) return current;
        target.resize(size_t(n));
        current = (!target.empty() && target[0] == '/') ? target : DirName(current) + "/" + target;
    }
    return current;
}

enum class ReadResult { Ok, Missing, Failed };

ReadResult ReadWholeFile(const std::string& path, std::string* out, std::string* error) {
    out->clear();
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) {
        // A folder on the way that is missing or is a file: there is no such file yet.
        if (errno == ENOENT || errno == ENOTDIR) return ReadResult::Missing;
        *error = Errno(errno);
        return ReadResult::Failed;
    }
    struct stat st;
    if (::fstat(fd.Get(), &st) != 0) {
        *error = Errno(errno);
        return ReadResult::Failed;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = "not a regular file";
        return ReadResult::Failed;
    }
    char buf[16384];
    while (true) {
        ssize_t n = ::read(fd.Get(), buf, sizeof buf);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            *error = Errno(errno);
            return ReadResult::Failed;
        }
        out->append(buf, size_t(n));
    }
    return ReadResult::Ok;
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(size_t(n));
    }
    return true;
}

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

bool SettingsStore::Load() {
    if (path_.empty()) return Fail(ErrorKind::Read, "No place for the settings file: neither TAVREC_REGISTRY nor a home folder is set");
    std::string text, error;
    auto doc = std::make_unique<RegistryDocument>();
    switch (ReadWholeFile(path_, &text, &error)) {
    case ReadResult::Failed:
        return Fail(ErrorKind::Read, "Cannot read the settings file " + path_ + ": " + error);
    case ReadResult::Missing:
        break;
    case ReadResult::Ok: {
        int line = 0;
        if (!RegistryDocument::Parse(text, doc.get(), &line, &error))
            return Fail(ErrorKind::Parse, "Settings file " + path_ + ", line " + std::to_string(line) + ": " + error, line);
        break;
    }
    }
    doc_ = std::move(doc);
    return true;
}

bool SettingsStore::Mutate(const std::function<bool(RegistryDocument&, std::string*)>& change) {
    if (path_.empty()) return Fail(ErrorKind::Write, "No place for the settings file: neither TAVREC_REGISTRY nor a home folder is set");
    const std::string target = FollowLinks(path_);
    const std::string dir = DirName(target);
    std::string error;
    auto writeFailure = [&](const std::string& what) {
        return Fail(ErrorKind::Write, "Cannot write the settings file " + target + ": " + what);
    };

    if (!MakeFolders(dir, &error)) return writeFailure(error);

    const std::string lockPath = target + ".lock";
    UniqueFd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!lock.Valid()) return writeFailure("cannot open the lock file " + lockPath + ": " + Errno(errno));
    while (::flock(lock.Get(), LOCK_EX) != 0) {
        if (errno != EINTR) return writeFailure("cannot lock " + lockPath + ": " + Errno(errno));
    }

    // Read afresh under the lock, so another process's writes are kept.
    std::string text;
    auto fresh = std::make_unique<RegistryDocument>();
    mode_t mode = 0600;
    switch (ReadWholeFile(target, &text, &error)) {
    case ReadResult::Failed:
        return Fail(ErrorKind::Read, "Cannot read the settings file " + target + ": " + error);
    case ReadResult::Missing:
        break;
    case ReadResult::Ok: {
        int line = 0;
        if (!RegistryDocument::Parse(text, fresh.get(), &line, &error))
            return Fail(ErrorKind::Parse, "Settings file " + target + ", line " + std::to_string(line) + ": " + error, line);
        struct stat st;
        if (::stat(target.c_str(), &st) == 0) mode = st.st_mode & 07777;
        break;
    }
    }

    if (!change(*fresh, &error)) return Fail(ErrorKind::NotFound, error);
    const std::string newText = fresh->Serialize();

    const std::string tmpPath = target + ".tmp";
    {
        UniqueFd tmp(::open(tmpPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!tmp.Valid()) return writeFailure("cannot create " + tmpPath + ": " + Errno(errno));
        bool ok = ::fchmod(tmp.Get(), mode) == 0 && WriteAll(tmp.Get(), newText) && ::fsync(tmp.Get()) == 0;
        int err = errno;
        ok = tmp.Close() && ok;
        if (!ok) {
            ::unlink(tmpPath.c_str());
            return writeFailure(tmpPath + ": " + Errno(err ? err : errno));
        }
    }

    StopHereIfAsked();

    if (::rename(tmpPath.c_str(), target.c_str()) != 0) {
        int err = errno;
        ::unlink(tmpPath.c_str());
        return writeFailure("cannot replace it: " + Errno(err));
    }
    // Make the rename itself durable.
    if (UniqueFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); dirFd.Valid()) ::fsync(dirFd.Get());

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
        if (!Mutate([&](RegistryDocument& d, std::string*) {
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
    const RegistryDocument::Key* key = doc_->FindKey(currentKey_);
    return key && key->Find(name);
}

bool SettingsStore::GetValue(std::string_view name, RegValue* out) const {
    if (!keyOpen_ || !doc_) return Fail(ErrorKind::NoKey, "No key is open");
    const RegistryDocument::Key* key = doc_->FindKey(currentKey_);
    const RegistryDocument::NamedValue* v = key ? key->Find(name) : nullptr;
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
    if (const RegistryDocument::Key* key = doc_->FindKey(currentKey_))
        for (const auto& v : key->values) names.push_back(v.name);
    return names;
}

bool SettingsStore::WriteValue(std::string_view name, const RegValue& value) {
    if (!keyOpen_) return Fail(ErrorKind::NoKey, "No key is open");
    std::string why;
    if (!IsStorableValueName(name, &why)) return Fail(ErrorKind::BadName, "Bad value name \"" + std::string(name) + "\": " + why);
    return Mutate([&](RegistryDocument& d, std::string*) {
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
    return Mutate([&](RegistryDocument& d, std::string* why) {
        RegistryDocument::Key* key = d.FindKey(currentKey_);
        if (key && key->Remove(name)) return true;
        *why = "No value \"" + std::string(name) + "\" in " + currentKey_;
        return false;
    });
}

}  // namespace platform
