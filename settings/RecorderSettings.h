// The recorder's persistent options, the main-window values kept beside them, and
// their loading from and saving to the settings store (one named value per option
// under HKEY_LOCAL_MACHINE\SOFTWARE\KELDAN\TAVREC).
//
// The main window owns a RecorderSettings and a MainWindowValues for the life of the
// program. Its construction calls LoadSettings (then binds the hotkey targets,
// registers the shortcuts and moves itself to WindowLeft/WindowTop); its destruction
// stops a running recording, puts its current position into WindowLeft/WindowTop and
// calls SaveSettings. Nothing else touches the store.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "platform/WinTypes.h"

class QToolButton;

inline constexpr int kHotkeyCount = 6;

// Hotkey entry indices (also the identifiers the shortcuts are registered under).
enum HotkeyId : int {
    HotkeyStartRecord = 0,
    HotkeyPauseRecord = 1,
    HotkeyStopRecord = 2,
    HotkeySwitchMode = 3,
    HotkeyClearDraw = 4,
    HotkeyRedraw = 5,
};

struct HotkeyEntry {
    // Low 16 bits: virtual-key code in bits 0-7, 0x2000 Shift, 0x4000 Ctrl, 0x8000 Alt.
    // The upper 16 bits are carried from the store to the store unchanged.
    int32_t Shortcut = 0;
    // The toolbar button the shortcut presses (entries 0 to 2); null until the main
    // window binds it, and always null for entries 3 to 5. Not persisted.
    QToolButton* Target = nullptr;
};

inline constexpr size_t kSavedFileCapacity = 256;    // bytes, up to 255 characters
inline constexpr size_t kSoundDeviceCapacity = 64;   // bytes
inline constexpr size_t kWideDeviceCapacity = 64;    // UTF-16 units
inline constexpr size_t kScreenCastTokenCapacity = 128;  // bytes

struct RecorderSettings {
    bool RecordAudio = false;
    bool RecordVideo = false;
    bool MinWhileRecording = false;
    bool AllowDropFrame = false;
    bool UseQuickMode = false;
    bool UseFastDraw = false;
    bool ShowEncoder = false;
    bool AddCCDImage = false;
    bool AutoAppendFilename = false;
    bool DisableHWAcce = false;
    int32_t CaptureSize = 0;  // 1 full screen, 2 a window, 3 a region chosen at each start
    int32_t FPS = 0;
    int32_t SoundSample = 0;
    char SavedFile[kSavedFileCapacity] = {};    // zero-terminated UTF-8
    char CurrentFile[kSavedFileCapacity] = {};  // loaded from "SavedFile", never saved
    char DSSoundDevice[kSoundDeviceCapacity] = {};
    // "DSSoundDevice2": a second device recorded with the first and mixed with it;
    // empty (or the value missing): none.
    char DSSoundDevice2[kSoundDeviceCapacity] = {};
    char16_t CCDDevice[kWideDeviceCapacity] = {};  // zero-terminated UTF-16
    char16_t VCMDevice[kWideDeviceCapacity] = {};
    WaveFormatEx SampleRate = {};
    HotkeyEntry Hotkeys[kHotkeyCount] = {};
    // The desktop portal's restore tokens of the screen and of the window last shared
    // (Wayland desktops), so that the next recording shares them without asking.
    // Stored as "ScreenCastToken" and "ScreenCastWindowToken" after every other value,
    // and only once the portal has given one: unlike the others a missing one is not
    // created, and reads as empty.
    char ScreenCastToken[kScreenCastTokenCapacity] = {};
    char ScreenCastWindowToken[kScreenCastTokenCapacity] = {};
};

// The rectangle of the screen last chosen for a region recording, in root
// coordinates; Width or Height 0: none chosen yet.
struct CaptureRegion {
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Width = 0;
    int32_t Height = 0;
    bool Stored() const { return Width > 0 && Height > 0; }
};

// Values of the main window persisted beside the record.
struct MainWindowValues {
    uint32_t PenColor = 0;   // COLORREF 0x00BBGGRR
    int32_t PenSize = 0;     // pixels
    int32_t EraserSize = 0;  // pixels
    int32_t WindowLeft = 0;
    int32_t WindowTop = 0;
    // Stored as "CaptureRegion", 16 bytes of REG_BINARY (Left, Top, Width, Height as
    // little-endian int32), after every other value. Unlike the others it is not
    // created when missing: a settings file without it loads as before and means no
    // region stored, and it is written only once a region has been chosen.
    CaptureRegion Region;
};

// A failure of loading or saving. what() is the text to show the user:
// "Invalid data type for '<name>'", "Failed to set data for '<name>'", or, for a
// settings file that cannot be read or parsed, the store's text naming the file
// and line.
class SettingsError : public std::runtime_error {
public:
    enum class Kind { InvalidDataType, FailedToSetData, StoreUnreadable };

    SettingsError(Kind kind, const std::string& message, std::string valueName, std::string detail);

    Kind kind() const { return kind_; }
    // The value being read or written ("" for a file that cannot be read).
    const std::string& valueName() const { return valueName_; }
    // The store's reason (for example why a write was refused); may be empty.
    const std::string& detail() const { return detail_; }

private:
    Kind kind_;
    std::string valueName_;
    std::string detail_;
};

enum class SettingDirection { Read, Write };

enum class SettingKind {
    Integer,   // REG_DWORD into an int32
    Word,      // 4-byte REG_BINARY into an int32 (or any 4-byte field)
    Text,      // REG_SZ into a byte buffer of `capacity` bytes, zero-terminated
    WideText,  // REG_SZ (UTF-8) into a buffer of `capacity` UTF-16 units, zero-terminated
    Block,     // REG_BINARY of up to `capacity` bytes
};

// Reads or writes one value of the settings key, opening and closing the key (and
// the store, at SettingsStore::DefaultPath()) on every call. A read of a missing
// value writes the default at once: 1 for Integer and Word, the empty text for Text
// and WideText, the buffer's present bytes for Block. Throws SettingsError.
//
// optional (for values added after the first twenty, so that an older file loads
// unchanged and a file stays as it was while the value is not used): a missing value
// reads as its default and is not created; an empty Text is written by removing the
// value.
void AccessSetting(void* buffer, size_t capacity, SettingDirection direction, SettingKind kind, const char* name,
                   bool optional = false);

// The ten flags as the "BoolSection" word: bit 0 RecordAudio ... bit 9 DisableHWAcce.
uint32_t PackBoolSection(const RecorderSettings& settings);
// Sets the ten flags from bits 0 to 9; higher bits are ignored.
void UnpackBoolSection(uint32_t word, RecorderSettings& settings);

// Reads every value in order (creating the missing ones with their defaults), fills
// CurrentFile from "SavedFile" too, and unpacks "BoolSection". Hotkey targets are
// left as they are. Throws SettingsError; values after the failing one are not read.
void LoadSettings(RecorderSettings& settings, MainWindowValues& window);

// Packs the flags and writes every value in order (CurrentFile excepted). Throws
// SettingsError; values after the failing one are not written.
void SaveSettings(const RecorderSettings& settings, const MainWindowValues& window);
