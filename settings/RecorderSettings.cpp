#include "settings/RecorderSettings.h"

#include <bit>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <type_traits>

#include "platform/store/SettingsStore.h"
#include "settings/WideText.h"

static_assert(std::endian::native == std::endian::little,
              "binary values are the fields' bytes as they lie in memory, which the file keeps little-endian");

namespace {

constexpr const char* kRootKey = "HKEY_LOCAL_MACHINE";
constexpr const char* kSettingsKey = "\\SOFTWARE\\KELDAN\\TAVREC";

constexpr const char* kHotkeyValueNames[kHotkeyCount] = {
    "HkStartRecord", "HkPauseRecord", "HkStopRecord", "HkSwitchModeRecord", "HkClearDrawRecord", "HkRedrawRecord",
};

[[noreturn]] void ThrowInvalidDataType(const char* name) {
    throw SettingsError(SettingsError::Kind::InvalidDataType, std::string("Invalid data type for '") + name + "'", name, {});
}

[[noreturn]] void ThrowFailedToSetData(const char* name, const std::string& detail) {
    throw SettingsError(SettingsError::Kind::FailedToSetData, std::string("Failed to set data for '") + name + "'", name,
                        detail);
}

// The bytes of a value that must fit a field of `capacity` bytes as the given type.
const std::vector<uint8_t>& CheckedData(const platform::RegValue& value, platform::RegType type, size_t capacity,
                                        const char* name) {
    if (value.type != type || value.data.size() > capacity) ThrowInvalidDataType(name);
    return value.data;
}

std::string_view TextOf(const platform::RegValue& value, const char* name) {
    if (value.type != platform::RegType::String && value.type != platform::RegType::ExpandString)
        ThrowInvalidDataType(name);
    std::string_view text(reinterpret_cast<const char*>(value.data.data()), value.data.size());
    return text.substr(0, text.find('\0'));
}

// Writes the buffer as the kind says; false when the store refuses.
bool WriteBuffer(platform::SettingsStore& store, const void* buffer, size_t capacity, SettingKind kind, const char* name) {
    switch (kind) {
    case SettingKind::Integer: {
        uint32_t v;
        std::memcpy(&v, buffer, 4);
        return store.WriteDword(name, v);
    }
    case SettingKind::Word:
        return store.WriteBinary(name, buffer, 4);
    case SettingKind::Text: {
        const char* text = static_cast<const char*>(buffer);
        return store.WriteString(name, std::string_view(text, strnlen(text, capacity)));
    }
    case SettingKind::WideText: {
        const char16_t* text = static_cast<const char16_t*>(buffer);
        size_t length = 0;
        while (length < capacity && text[length]) ++length;
        return store.WriteString(name, Utf16ToUtf8(std::u16string_view(text, length)));
    }
    case SettingKind::Block:
        return store.WriteBinary(name, buffer, capacity);
    }
    return false;
}

void ReadBuffer(platform::SettingsStore& store, void* buffer, size_t capacity, SettingKind kind, const char* name,
                const std::string& openError, bool optional) {
    auto createWithBuffer = [&] {
        if (!WriteBuffer(store, buffer, capacity, kind, name))
            ThrowFailedToSetData(name, store.HasOpenKey() ? store.LastError() : openError);
    };

    switch (kind) {
    case SettingKind::Integer:
    case SettingKind::Word: {
        const int32_t one = 1;
        std::memcpy(buffer, &one, 4);
        break;
    }
    case SettingKind::Text:
        static_cast<char*>(buffer)[0] = '\0';
        break;
    case SettingKind::WideText:
        static_cast<char16_t*>(buffer)[0] = u'\0';
        break;
    case SettingKind::Block:
        break;
    }

    platform::RegValue value;
    if (!store.GetValue(name, &value)) {
        if (!optional) createWithBuffer();
        return;
    }

    switch (kind) {
    case SettingKind::Integer: {
        const auto& data = CheckedData(value, platform::RegType::Dword, 4, name);
        if (data.size() != 4) ThrowInvalidDataType(name);
        std::memcpy(buffer, data.data(), 4);
        break;
    }
    case SettingKind::Word:
    case SettingKind::Block: {
        // A shorter value fills only its own bytes; the rest keep what they held.
        const auto& data = CheckedData(value, platform::RegType::Binary, kind == SettingKind::Word ? 4 : capacity, name);
        if (!data.empty()) std::memcpy(buffer, data.data(), data.size());
        break;
    }
    case SettingKind::Text: {
        std::string_view text = TextOf(value, name);
        // Cut to the field, but never inside a character.
        size_t n = Utf8PrefixLength(text, capacity - 1);
        char* out = static_cast<char*>(buffer);
        std::memcpy(out, text.data(), n);
        out[n] = '\0';
        break;
    }
    case SettingKind::WideText: {
        std::u16string wide = Utf8ToUtf16(TextOf(value, name));
        size_t n = Utf16PrefixLength(wide, capacity - 1);
        char16_t* out = static_cast<char16_t*>(buffer);
        std::memcpy(out, wide.data(), n * sizeof(char16_t));
        out[n] = u'\0';
        break;
    }
    }
}

}  // namespace

SettingsError::SettingsError(Kind kind, const std::string& message, std::string valueName, std::string detail)
    : std::runtime_error(message), kind_(kind), valueName_(std::move(valueName)), detail_(std::move(detail)) {}

void AccessSetting(void* buffer, size_t capacity, SettingDirection direction, SettingKind kind, const char* name,
                   bool optional) {
    if (!buffer || !name) throw std::invalid_argument("AccessSetting: null buffer or name");
    bool fourBytes = kind == SettingKind::Integer || kind == SettingKind::Word;
    if ((fourBytes && capacity < 4) || (!fourBytes && kind != SettingKind::Block && capacity == 0))
        throw std::invalid_argument(std::string("AccessSetting: buffer too small for '") + name + "'");

    platform::SettingsStore store;
    store.SetRootKey(kRootKey);
    std::string openError;
    if (!store.OpenKey(kSettingsKey, true)) {
        // A file that cannot be read or parsed stops here: nothing may be written over it.
        auto why = store.LastErrorKind();
        if (why == platform::SettingsStore::ErrorKind::Parse || why == platform::SettingsStore::ErrorKind::Read)
            throw SettingsError(SettingsError::Kind::StoreUnreadable, store.LastError(), {}, store.LastError());
        // The key could not be created: the write below reports it as refused.
        openError = store.LastError();
    }

    if (direction == SettingDirection::Write) {
        const bool unused = optional && kind == SettingKind::Text && static_cast<const char*>(buffer)[0] == '\0';
        if (unused) {
            if (store.ValueExists(name) && !store.DeleteValue(name))
                ThrowFailedToSetData(name, store.HasOpenKey() ? store.LastError() : openError);
        } else if (!WriteBuffer(store, buffer, capacity, kind, name)) {
            ThrowFailedToSetData(name, store.HasOpenKey() ? store.LastError() : openError);
        }
    } else {
        ReadBuffer(store, buffer, capacity, kind, name, openError, optional);
    }
    store.CloseKey();
}

uint32_t PackBoolSection(const RecorderSettings& s) {
    const bool flags[10] = {s.RecordAudio, s.RecordVideo, s.MinWhileRecording, s.AllowDropFrame, s.UseQuickMode,
                            s.UseFastDraw, s.ShowEncoder, s.AddCCDImage, s.AutoAppendFilename, s.DisableHWAcce};
    uint32_t word = 0;
    for (int bit = 0; bit < 10; ++bit)
        if (flags[bit]) word |= 1u << bit;
    return word;
}

void UnpackBoolSection(uint32_t word, RecorderSettings& s) {
    bool* flags[10] = {&s.RecordAudio, &s.RecordVideo, &s.MinWhileRecording, &s.AllowDropFrame, &s.UseQuickMode,
                       &s.UseFastDraw, &s.ShowEncoder, &s.AddCCDImage, &s.AutoAppendFilename, &s.DisableHWAcce};
    for (int bit = 0; bit < 10; ++bit) *flags[bit] = (word >> bit) & 1u;
}

namespace {

// The values in the order they are read and written; CurrentFile only on reading.
template <typename Settings, typename Window, typename Word>
void ForEachValue(Settings& s, Window& w, Word& boolSection, SettingDirection direction) {
    auto access = [&](auto* field, size_t capacity, SettingKind kind, const char* name, bool optional = false) {
        using Field = std::remove_const_t<std::remove_pointer_t<decltype(field)>>;
        AccessSetting(const_cast<Field*>(field), capacity, direction, kind, name, optional);
    };
    access(&w.PenColor, 4, SettingKind::Word, "PenColor");
    access(&w.PenSize, 4, SettingKind::Integer, "PenSize");
    access(&w.EraserSize, 4, SettingKind::Integer, "EraserSize");
    access(&w.WindowLeft, 4, SettingKind::Integer, "APLeft");
    access(&w.WindowTop, 4, SettingKind::Integer, "APTop");
    access(&boolSection, 4, SettingKind::Word, "BoolSection");
    access(&s.CaptureSize, 4, SettingKind::Word, "CaptureSize");
    access(&s.FPS, 4, SettingKind::Word, "FPS");
    access(&s.SoundSample, 4, SettingKind::Word, "SoundSample");
    access(&s.SampleRate, sizeof s.SampleRate, SettingKind::Block, "SampleRate");
    access(s.SavedFile, sizeof s.SavedFile, SettingKind::Text, "SavedFile");
    if (direction == SettingDirection::Read) access(s.CurrentFile, sizeof s.CurrentFile, SettingKind::Text, "SavedFile");
    access(s.DSSoundDevice, sizeof s.DSSoundDevice, SettingKind::Text, "DSSoundDevice");
    access(s.CCDDevice, kWideDeviceCapacity, SettingKind::WideText, "CCDDevice");
    access(s.VCMDevice, kWideDeviceCapacity, SettingKind::WideText, "VCMDevice");
    for (int i = 0; i < kHotkeyCount; ++i) access(&s.Hotkeys[i].Shortcut, 4, SettingKind::Word, kHotkeyValueNames[i]);
    // Made only once there is something to keep (see RecorderSettings.h).
    access(s.DSSoundDevice2, sizeof s.DSSoundDevice2, SettingKind::Text, "DSSoundDevice2", true);
    access(s.ScreenCastToken, sizeof s.ScreenCastToken, SettingKind::Text, "ScreenCastToken", true);
    access(s.ScreenCastWindowToken, sizeof s.ScreenCastWindowToken, SettingKind::Text, "ScreenCastWindowToken", true);
}

}  // namespace

namespace {

// The remembered region exists only once a region was chosen: a missing one is left
// missing and reads as none, so a settings file without it loads, and a first start
// writes, as before.
constexpr const char* kRegionValue = "CaptureRegion";

// A region value that is not 16 bytes of REG_BINARY is refused as any value of the
// wrong type is.
void LoadCaptureRegion(CaptureRegion& region) {
    region = CaptureRegion{};
    platform::SettingsStore store;
    store.SetRootKey(kRootKey);
    if (!store.OpenKey(kSettingsKey, false))
        return;  // the values before have created the key; a store that cannot be read threw then
    platform::RegValue value;
    if (store.GetValue(kRegionValue, &value)) {
        const auto& data = CheckedData(value, platform::RegType::Binary, 16, kRegionValue);
        if (data.size() != 16) ThrowInvalidDataType(kRegionValue);
        int32_t v[4];
        std::memcpy(v, data.data(), 16);
        region = CaptureRegion{v[0], v[1], v[2], v[3]};
        if (!region.Stored()) region = CaptureRegion{};
    }
    store.CloseKey();
}

void SaveCaptureRegion(const CaptureRegion& region) {
    if (region.Stored()) {
        int32_t v[4] = {region.Left, region.Top, region.Width, region.Height};
        AccessSetting(v, sizeof v, SettingDirection::Write, SettingKind::Block, kRegionValue);
    }
}

}  // namespace

void LoadSettings(RecorderSettings& settings, MainWindowValues& window) {
    uint32_t boolSection = 0;
    ForEachValue(settings, window, boolSection, SettingDirection::Read);
    UnpackBoolSection(boolSection, settings);
    LoadCaptureRegion(window.Region);
}

void SaveSettings(const RecorderSettings& settings, const MainWindowValues& window) {
    const uint32_t boolSection = PackBoolSection(settings);
    ForEachValue(settings, window, boolSection, SettingDirection::Write);
    SaveCaptureRegion(window.Region);
}
