// links: tavrec_settings tavrec_support_TempRegistry
// The settings record: first start, loading and saving through the registry-format
// file, the error texts, and what a killed or concurrent writer leaves behind.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <map>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/store/SettingsStore.h"
#include "settings/RecorderSettings.h"
#include "tests/support/TempRegistry.h"

using platform::RegType;
using platform::RegValue;
using platform::SettingsStore;

namespace {

const char* const kAllNames[] = {
    "PenColor",      "PenSize",       "EraserSize",    "APLeft",        "APTop",
    "BoolSection",   "CaptureSize",   "FPS",           "SoundSample",   "SampleRate",
    "SavedFile",     "DSSoundDevice", "CCDDevice",     "VCMDevice",     "HkStartRecord",
    "HkPauseRecord", "HkStopRecord",  "HkSwitchModeRecord", "HkClearDrawRecord", "HkRedrawRecord",
};

const std::string kSection = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KELDAN\\TAVREC]\n";

const std::string kFirstStartText =
    "REGEDIT4\n"
    "\n" +
    kSection +
    "\"PenColor\"=hex:01,00,00,00\n"
    "\"PenSize\"=dword:00000001\n"
    "\"EraserSize\"=dword:00000001\n"
    "\"APLeft\"=dword:00000001\n"
    "\"APTop\"=dword:00000001\n"
    "\"BoolSection\"=hex:01,00,00,00\n"
    "\"CaptureSize\"=hex:01,00,00,00\n"
    "\"FPS\"=hex:01,00,00,00\n"
    "\"SoundSample\"=hex:01,00,00,00\n"
    "\"SampleRate\"=hex:00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00\n"
    "\"SavedFile\"=\"\"\n"
    "\"DSSoundDevice\"=\"\"\n"
    "\"CCDDevice\"=\"\"\n"
    "\"VCMDevice\"=\"\"\n"
    "\"HkStartRecord\"=hex:01,00,00,00\n"
    "\"HkPauseRecord\"=hex:01,00,00,00\n"
    "\"HkStopRecord\"=hex:01,00,00,00\n"
    "\"HkSwitchModeRecord\"=hex:01,00,00,00\n"
    "\"HkClearDrawRecord\"=hex:01,00,00,00\n"
    "\"HkRedrawRecord\"=hex:01,00,00,00\n"
    "\n";

// A file holding the first-start values with one line replaced (or removed, when
// `line` is empty) for the value of that name.
std::string FirstStartWith(const std::string& name, const std::string& line) {
    std::string text = kFirstStartText;
    size_t at = text.find("\n\"" + name + "\"=") + 1;
    size_t end = text.find('\n', at) + 1;
    return text.replace(at, end - at, line.empty() ? "" : line + "\n");
}

std::map<std::string, RegValue> ValuesOf(const std::string& path) {
    SettingsStore store(path);
    store.SetRootKey("HKEY_LOCAL_MACHINE");
    std::map<std::string, RegValue> values;
    if (!store.OpenKey("\\SOFTWARE\\KELDAN\\TAVREC", false)) {
        ADD_FAILURE() << store.LastError();
        return values;
    }
    for (const std::string& name : store.ValueNames()) store.GetValue(name, &values[name]);
    return values;
}

void SetText(char* field, size_t capacity, const std::string& text) {
    std::strncpy(field, text.c_str(), capacity - 1);
    field[capacity - 1] = '\0';
}

void SetWide(char16_t* field, const std::u16string& text) {
    std::u16string cut = text.substr(0, kWideDeviceCapacity - 1);
    std::memcpy(field, cut.c_str(), (cut.size() + 1) * sizeof(char16_t));
}

// Two distinct records whose every value differs.
void MakeRecord(int variant, RecorderSettings& s, MainWindowValues& w) {
    s = RecorderSettings{};
    w.PenColor = variant ? 0x00FF0000u : 0x000000FFu;
    w.PenSize = 2 + variant;
    w.EraserSize = variant ? 150 : 50;
    w.WindowLeft = 100 + variant;
    w.WindowTop = 200 + variant;
    s.RecordAudio = !variant;
    s.RecordVideo = variant;
    s.CaptureSize = 1 + variant;
    s.FPS = variant ? 30 : 10;
    s.SoundSample = 7 + variant;
    s.SampleRate = WaveFormatEx{1, uint16_t(1 + variant), variant ? 44100u : 22050u, 0, 2, 16, 0};
    SetText(s.SavedFile, sizeof s.SavedFile, variant ? "/home/b/clip.avi" : "/home/a/rec.avi");
    SetText(s.DSSoundDevice, sizeof s.DSSoundDevice, variant ? "Monitor of B" : "Monitor of A");
    SetWide(s.CCDDevice, variant ? u"Kamera B" : u"Kamera A");
    SetWide(s.VCMDevice, variant ? u"MPEG-4 part 2" : u"Uncompress");
    for (int i = 0; i < kHotkeyCount; ++i) s.Hotkeys[i].Shortcut = 0x6070 + i + variant * 0x100;
}

}  // namespace

TEST(RecorderSettingsLoad, FirstStartCreatesAllTwentyValuesWithTheirDefaults) {
    TempRegistry reg;
    RecorderSettings s;
    MainWindowValues w;
    LoadSettings(s, w);

    EXPECT_EQ(reg.Text(), kFirstStartText);
    EXPECT_EQ(ValuesOf(reg.Path()).size(), 20u);

    EXPECT_TRUE(s.RecordAudio);
    EXPECT_FALSE(s.RecordVideo || s.MinWhileRecording || s.AllowDropFrame || s.UseQuickMode || s.UseFastDraw ||
                 s.ShowEncoder || s.AddCCDImage || s.AutoAppendFilename || s.DisableHWAcce);
    EXPECT_EQ(w.PenColor, 1u);
    EXPECT_EQ(w.PenSize, 1);
    EXPECT_EQ(w.EraserSize, 1);
    EXPECT_EQ(w.WindowLeft, 1);
    EXPECT_EQ(w.WindowTop, 1);
    EXPECT_EQ(s.CaptureSize, 1);
    EXPECT_EQ(s.FPS, 1);
    EXPECT_EQ(s.SoundSample, 1);
    EXPECT_STREQ(s.SavedFile, "");
    EXPECT_STREQ(s.CurrentFile, "");
    EXPECT_STREQ(s.DSSoundDevice, "");
    EXPECT_EQ(std::u16string(s.CCDDevice), u"");
    EXPECT_EQ(std::u16string(s.VCMDevice), u"");
    const WaveFormatEx zero{};
    EXPECT_EQ(std::memcmp(&s.SampleRate, &zero, sizeof zero), 0);
    for (const HotkeyEntry& h : s.Hotkeys) {
        EXPECT_EQ(h.Shortcut, 1);
        EXPECT_EQ(h.Target, nullptr);
    }

    // The next start reads without writing, and saving what was loaded gives the
    // same file back.
    struct stat before, after;
    ASSERT_EQ(::stat(reg.Path().c_str(), &before), 0);
    RecorderSettings again;
    MainWindowValues againWindow;
    LoadSettings(again, againWindow);
    ASSERT_EQ(::stat(reg.Path().c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
    SaveSettings(again, againWindow);
    EXPECT_EQ(reg.Text(), kFirstStartText);
}

TEST(RecorderSettingsLoad, SavedRecordComesBackWhole) {
    TempRegistry reg;
    RecorderSettings s, loaded;
    MainWindowValues w, loadedWindow;
    MakeRecord(1, s, w);
    s.MinWhileRecording = s.UseFastDraw = s.DisableHWAcce = true;
    SaveSettings(s, w);
    LoadSettings(loaded, loadedWindow);
    EXPECT_EQ(PackBoolSection(loaded), PackBoolSection(s));
    EXPECT_EQ(PackBoolSection(s), 0x2u | 0x4u | 0x20u | 0x200u);
    EXPECT_EQ(std::memcmp(&loaded.SampleRate, &s.SampleRate, sizeof s.SampleRate), 0);
    EXPECT_STREQ(loaded.SavedFile, "/home/b/clip.avi");
    EXPECT_STREQ(loaded.CurrentFile, "/home/b/clip.avi");
    EXPECT_EQ(std::u16string(loaded.VCMDevice), u"MPEG-4 part 2");
    EXPECT_EQ(loaded.FPS, 30);
    EXPECT_EQ(loadedWindow.PenColor, 0x00FF0000u);
    EXPECT_EQ(loadedWindow.WindowTop, 201);
    EXPECT_EQ(loaded.Hotkeys[5].Shortcut, 0x6175);
    // CurrentFile is never saved.
    SetText(loaded.CurrentFile, sizeof loaded.CurrentFile, "/tmp/other.avi");
    SaveSettings(loaded, loadedWindow);
    EXPECT_EQ(reg.Text().find("other.avi"), std::string::npos);
}

TEST(RecorderSettingsLoad, ScreenCastTokensAreStoredOnlyOnceGivenAndAnOlderFileLoadsWithout) {
    TempRegistry reg;
    RecorderSettings s, loaded;
    MainWindowValues w, loadedWindow;
    MakeRecord(0, s, w);
    SaveSettings(s, w);
    const std::string older = reg.Text();
    EXPECT_EQ(older.find("ScreenCast"), std::string::npos) << "a value was made with nothing to keep";
    SetText(loaded.ScreenCastToken, sizeof loaded.ScreenCastToken, "left over");
    LoadSettings(loaded, loadedWindow);
    EXPECT_STREQ(loaded.ScreenCastToken, "");
    EXPECT_EQ(reg.Text(), older) << "loading an older file changed it";

    SetText(loaded.ScreenCastToken, sizeof loaded.ScreenCastToken, "4b1c5d0e-token");
    SaveSettings(loaded, loadedWindow);
    RecorderSettings again;
    LoadSettings(again, loadedWindow);
    EXPECT_STREQ(again.ScreenCastToken, "4b1c5d0e-token");
    EXPECT_STREQ(again.ScreenCastWindowToken, "");
    EXPECT_EQ(reg.Text().find("ScreenCastWindowToken"), std::string::npos);
}

// The second sound device is a value of its own that an older file does not have:
// such a file loads as it is (none chosen), the value appears only once a device is
// chosen, and choosing none again takes it out, so the file is as it was.
TEST(RecorderSettingsLoad, TheSecondSoundDeviceIsStoredOnlyWhileOneIsChosen) {
    TempRegistry reg;
    reg.SetText(kFirstStartText);
    RecorderSettings s;
    MainWindowValues w;
    SetText(s.DSSoundDevice2, sizeof s.DSSoundDevice2, "left over");
    LoadSettings(s, w);
    EXPECT_STREQ(s.DSSoundDevice2, "") << "a missing value means none";
    EXPECT_EQ(reg.Text(), kFirstStartText) << "an older file loads unchanged";
    SaveSettings(s, w);
    EXPECT_EQ(reg.Text(), kFirstStartText) << "no second device, no value";

    SetText(s.DSSoundDevice2, sizeof s.DSSoundDevice2, "Monitor of Büro");
    SaveSettings(s, w);
    const auto values = ValuesOf(reg.Path());
    ASSERT_EQ(values.count("DSSoundDevice2"), 1u);
    EXPECT_EQ(values.at("DSSoundDevice2").type, RegType::String);
    EXPECT_EQ(values.size(), 21u);
    RecorderSettings loaded;
    LoadSettings(loaded, w);
    EXPECT_STREQ(loaded.DSSoundDevice2, "Monitor of Büro");

    loaded.DSSoundDevice2[0] = '\0';
    SaveSettings(loaded, w);
    EXPECT_EQ(ValuesOf(reg.Path()).count("DSSoundDevice2"), 0u);
    EXPECT_EQ(reg.Text(), kFirstStartText);

    // A value of another type is refused by name, as every other value is.
    reg.SetText(kFirstStartText.substr(0, kFirstStartText.size() - 1) + "\"DSSoundDevice2\"=dword:00000001\n\n");
    EXPECT_THROW(LoadSettings(loaded, w), SettingsError);
}

TEST(RecorderSettingsLoad, BoolSectionBitsAboveNineAreIgnoredAndCleared) {
    TempRegistry reg;
    // 0xA5A5A955: bits 0-9 are 0x155 (flags 0, 2, 4, 6 and 8).
    reg.SetText(FirstStartWith("BoolSection", "\"BoolSection\"=hex:55,a9,a5,a5"));
    RecorderSettings s;
    MainWindowValues w;
    LoadSettings(s, w);
    EXPECT_TRUE(s.RecordAudio);
    EXPECT_FALSE(s.RecordVideo);
    EXPECT_TRUE(s.MinWhileRecording);
    EXPECT_FALSE(s.AllowDropFrame);
    EXPECT_TRUE(s.UseQuickMode);
    EXPECT_FALSE(s.UseFastDraw);
    EXPECT_TRUE(s.ShowEncoder);
    EXPECT_FALSE(s.AddCCDImage);
    EXPECT_TRUE(s.AutoAppendFilename);
    EXPECT_FALSE(s.DisableHWAcce);
    SaveSettings(s, w);
    EXPECT_NE(reg.Text().find("\"BoolSection\"=hex:55,01,00,00\n"), std::string::npos) << reg.Text();

    reg.SetText(FirstStartWith("BoolSection", "\"BoolSection\"=hex:ff,ff,ff,ff"));
    LoadSettings(s, w);
    EXPECT_EQ(PackBoolSection(s), 0x3FFu);
    SaveSettings(s, w);
    EXPECT_NE(reg.Text().find("\"BoolSection\"=hex:ff,03,00,00\n"), std::string::npos) << reg.Text();
}

TEST(RecorderSettingsLoad, LongTextsAreCutToTheirField) {
    TempRegistry reg;
    const std::string longPath = "/" + std::string(299, 'p');
    reg.SetText(FirstStartWith("SavedFile", "\"SavedFile\"=\"" + longPath + "\""));
    RecorderSettings s;
    MainWindowValues w;
    LoadSettings(s, w);
    EXPECT_EQ(std::string(s.SavedFile), longPath.substr(0, 255));
    EXPECT_EQ(std::string(s.CurrentFile), longPath.substr(0, 255));
    SaveSettings(s, w);
    EXPECT_NE(reg.Text().find("\"SavedFile\"=\"" + longPath.substr(0, 255) + "\"\n"), std::string::npos);

    // A cut never splits a character: 200 two-byte characters keep 127 of them.
    std::string accents;
    for (int i = 0; i < 200; ++i) accents += "\xC3\xA9";  // é
    reg.SetText(FirstStartWith("SavedFile", "\"SavedFile\"=\"" + accents + "\""));
    LoadSettings(s, w);
    EXPECT_EQ(std::string(s.SavedFile), accents.substr(0, 254));

    // Nor a surrogate pair in the wide fields (63 units at most).
    const std::string sixtyTwo(62, 'c');
    reg.SetText(FirstStartWith("CCDDevice", "\"CCDDevice\"=\"" + sixtyTwo + "\xF0\x9F\x98\x80\""));  // U+1F600
    LoadSettings(s, w);
    EXPECT_EQ(std::u16string(s.CCDDevice), std::u16string(62, u'c'));
    const std::string sixtyOne(61, 'c');
    reg.SetText(FirstStartWith("CCDDevice", "\"CCDDevice\"=\"" + sixtyOne + "\xF0\x9F\x98\x80\""));
    LoadSettings(s, w);
    EXPECT_EQ(std::u16string(s.CCDDevice), std::u16string(61, u'c') + u"\U0001F600");
}

TEST(RecorderSettingsLoad, NonAsciiDeviceNamesRoundTripAsTheSameUtf16) {
    TempRegistry reg;
    const std::string utf8 = "Kamera \xE2\x80\x9EGr\xC3\xB6\xC3\x9F" "e\xE2\x80\x9C \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80";
    const std::u16string utf16 = u"Kamera \u201EGr\u00F6\u00DFe\u201C \u65E5\u672C \U0001F600";
    reg.SetText(FirstStartWith("CCDDevice", "\"CCDDevice\"=\"" + utf8 + "\""));
    RecorderSettings s;
    MainWindowValues w;
    LoadSettings(s, w);
    EXPECT_EQ(std::u16string(s.CCDDevice), utf16);

    SetWide(s.VCMDevice, utf16);
    SaveSettings(s, w);
    EXPECT_NE(reg.Text().find("\"CCDDevice\"=\"" + utf8 + "\"\n"), std::string::npos);
    EXPECT_NE(reg.Text().find("\"VCMDevice\"=\"" + utf8 + "\"\n"), std::string::npos);
    RecorderSettings back;
    LoadSettings(back, w);
    EXPECT_EQ(std::u16string(back.VCMDevice), utf16);
    // Text that is not UTF-8 loads with replacement characters rather than garbage.
    reg.SetText(FirstStartWith("VCMDevice", "\"VCMDevice\"=\"A\xFF" "B\""));
    LoadSettings(back, w);
    EXPECT_EQ(std::u16string(back.VCMDevice), u"A\uFFFDB");
}

TEST(RecorderSettingsLoad, DeletedValueIsRecreatedWithItsDefault) {
    TempRegistry reg;
    RecorderSettings s;
    MainWindowValues w;
    MakeRecord(0, s, w);
    SaveSettings(s, w);
    {
        SettingsStore store;
        store.SetRootKey("HKEY_LOCAL_MACHINE");
        ASSERT_TRUE(store.OpenKey("\\SOFTWARE\\KELDAN\\TAVREC", false));
        ASSERT_TRUE(store.DeleteValue("FPS"));
    }
    ASSERT_EQ(reg.Text().find("\"FPS\""), std::string::npos);
    RecorderSettings loaded;
    LoadSettings(loaded, w);
    EXPECT_EQ(loaded.FPS, 1);
    EXPECT_EQ(loaded.SoundSample, 7);  // the others as saved
    auto values = ValuesOf(reg.Path());
    EXPECT_EQ(values.size(), 20u);
    EXPECT_EQ(values["FPS"], (RegValue{RegType::Binary, {1, 0, 0, 0}}));
    EXPECT_NE(reg.Text().find("\"FPS\"=hex:01,00,00,00\n"), std::string::npos);
}

TEST(RecorderSettingsLoad, ValueOfTheWrongTypeStopsLoadingWithItsName) {
    struct Case {
        const char* name;
        const char* line;
    };
    const Case cases[] = {
        {"FPS", "\"FPS\"=dword:00000005"},                  // REG_DWORD where a 4-byte REG_BINARY belongs
        {"FPS", "\"FPS\"=hex:05,00,00,00,00"},              // longer than its field
        {"PenSize", "\"PenSize\"=hex:02,00,00,00"},         // REG_BINARY where REG_DWORD belongs
        {"PenSize", "\"PenSize\"=hex(4):02,00"},            // a REG_DWORD of 2 bytes
        {"SampleRate", "\"SampleRate\"=hex:00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00"},
        {"SavedFile", "\"SavedFile\"=dword:00000000"},
        {"VCMDevice", "\"VCMDevice\"=hex:41,00"},
        {"HkRedrawRecord", "\"HkRedrawRecord\"=\"F9\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        TempRegistry reg;
        // Only the values before the broken one exist, and the broken one.
        std::string text = "REGEDIT4\n\n" + kSection;
        for (const char* name : kAllNames) {
            if (std::string(name) == c.name) break;
            size_t at = kFirstStartText.find("\"" + std::string(name) + "\"=");
            text += kFirstStartText.substr(at, kFirstStartText.find('\n', at) + 1 - at);
        }
        text += std::string(c.line) + "\n\n";
        reg.SetText(text);
        RecorderSettings s;
        MainWindowValues w;
        try {
            LoadSettings(s, w);
            ADD_FAILURE() << "loading went through";
        } catch (const SettingsError& e) {
            EXPECT_STREQ(e.what(), (std::string("Invalid data type for '") + c.name + "'").c_str());
            EXPECT_EQ(e.kind(), SettingsError::Kind::InvalidDataType);
            EXPECT_EQ(e.valueName(), c.name);
        }
        // Loading stopped there: nothing after the broken value was created.
        EXPECT_EQ(reg.Text(), text);
    }
}

TEST(RecorderSettingsLoad, ShortBinaryValuesFillOnlyTheirOwnBytes) {
    TempRegistry reg;
    std::string text = FirstStartWith("FPS", "\"FPS\"=hex:02,03");
    size_t at = text.find("\"SampleRate\"=");
    text.replace(at, text.find('\n', at) - at, "\"SampleRate\"=hex:01,00,02,00");
    reg.SetText(text);
    RecorderSettings s;
    MainWindowValues w;
    s.SampleRate = WaveFormatEx{0x55, 9, 44100, 176400, 4, 16, 0};
    LoadSettings(s, w);
    EXPECT_EQ(s.FPS, 0x0302);  // 02 03 over the default 01 00 00 00
    EXPECT_EQ(s.SampleRate.wFormatTag, 1);
    EXPECT_EQ(s.SampleRate.nChannels, 2);
    EXPECT_EQ(s.SampleRate.nSamplesPerSec, 44100u);  // kept from before the read
    EXPECT_EQ(s.SampleRate.nAvgBytesPerSec, 176400u);
    EXPECT_EQ(s.SampleRate.nBlockAlign, 4);
    EXPECT_EQ(s.SampleRate.wBitsPerSample, 16);
    EXPECT_EQ(reg.Text(), text);  // reading does not lengthen them
}

TEST(RecorderSettingsLoad, ShortcutUpperBitsSurviveADialogChange) {
    TempRegistry reg;
    reg.SetText(FirstStartWith("HkPauseRecord", "\"HkPauseRecord\"=hex:58,c0,34,12"));
    RecorderSettings s;
    MainWindowValues w;
    int button = 0;
    QToolButton* const bound = reinterpret_cast<QToolButton*>(&button);
    s.Hotkeys[HotkeyPauseRecord].Target = bound;
    LoadSettings(s, w);
    EXPECT_EQ(uint32_t(s.Hotkeys[HotkeyPauseRecord].Shortcut), 0x1234C058u);
    EXPECT_EQ(s.Hotkeys[HotkeyPauseRecord].Target, bound);  // targets belong to the main window
    // The preferences dialog writes only the low 16 bits (here Ctrl+F9).
    auto& shortcut = s.Hotkeys[HotkeyPauseRecord].Shortcut;
    shortcut = int32_t((uint32_t(shortcut) & 0xFFFF0000u) | 0x4078u);
    SaveSettings(s, w);
    EXPECT_NE(reg.Text().find("\"HkPauseRecord\"=hex:78,40,34,12\n"), std::string::npos) << reg.Text();
}

TEST(RecorderSettingsErrors, RefusedWriteNamesTheValue) {
    TempRegistry reg;
    TempRegistry::WriteFile(reg.Dir() + "/plainfile", "x");
    setenv("TAVREC_REGISTRY", (reg.Dir() + "/plainfile/tavrec/registry.reg").c_str(), 1);
    RecorderSettings s;
    MainWindowValues w;
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            if (attempt == 0)
                LoadSettings(s, w);
            else
                SaveSettings(s, w);
            ADD_FAILURE() << "went through";
        } catch (const SettingsError& e) {
            EXPECT_STREQ(e.what(), "Failed to set data for 'PenColor'");
            EXPECT_EQ(e.kind(), SettingsError::Kind::FailedToSetData);
            EXPECT_EQ(e.valueName(), "PenColor");
            EXPECT_NE(e.detail().find("not a folder"), std::string::npos) << e.detail();
        }
    }
}

TEST(RecorderSettingsErrors, BrokenFileIsReportedWithItsLineAndLeftUntouched) {
    TempRegistry reg;
    std::string text = kFirstStartText;
    // Line 7 is "APLeft"; break it.
    const std::string good = "\"APLeft\"=dword:00000001";
    text.replace(text.find(good), good.size(), "\"APLeft\"=dword:0000001G");
    reg.SetText(text);
    RecorderSettings s;
    MainWindowValues w;
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            if (attempt == 0)
                LoadSettings(s, w);
            else
                SaveSettings(s, w);
            ADD_FAILURE() << "went through";
        } catch (const SettingsError& e) {
            EXPECT_EQ(e.kind(), SettingsError::Kind::StoreUnreadable);
            EXPECT_NE(std::string(e.what()).find(reg.Path() + ", line 7:"), std::string::npos) << e.what();
        }
        EXPECT_EQ(reg.Text(), text);
        EXPECT_FALSE(TempRegistry::Exists(reg.Path() + ".tmp"));
    }
}

namespace {

// Runs SaveSettings(record) in a child told to stop itself in its n-th write just
// before the rename, kills it there, and returns after it is gone.
void KillWriterBeforeRename(const TempRegistry& reg, int nthWrite, const RecorderSettings& s, const MainWindowValues& w,
                            const std::string& expectInTemp) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setenv("TAVREC_REGISTRY_STOP_BEFORE_RENAME", std::to_string(nthWrite).c_str(), 1);
        try {
            SaveSettings(s, w);
        } catch (...) {
            ::_exit(2);
        }
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, WUNTRACED), pid);
    ASSERT_TRUE(WIFSTOPPED(status)) << "the writer did not stop in its write";
    // It stopped with the new text complete in the temporary file.
    std::string temp = TempRegistry::ReadFile(reg.Path() + ".tmp");
    EXPECT_NE(temp.find(expectInTemp), std::string::npos) << temp;
    EXPECT_EQ(reg.Text().find(expectInTemp), std::string::npos);
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

}  // namespace

TEST(RecorderSettingsReliability, WriterKilledWhileSavingLeavesThePreviousFileWhole) {
    TempRegistry reg;
    RecorderSettings a, b;
    MainWindowValues wa, wb;
    MakeRecord(0, a, wa);
    MakeRecord(1, b, wb);
    SaveSettings(a, wa);
    const std::string before = reg.Text();
    const auto valuesA = ValuesOf(reg.Path());

    // Killed in its first write: the file is exactly as it was.
    KillWriterBeforeRename(reg, 1, b, wb, "\"PenColor\"=hex:00,00,ff,00");
    EXPECT_EQ(reg.Text(), before);
    RecorderSettings loaded;
    MainWindowValues loadedWindow;
    LoadSettings(loaded, loadedWindow);
    EXPECT_EQ(loaded.FPS, 10);

    // Killed in its tenth write (SampleRate): the nine values before it are saved,
    // the rest are still the previous ones, and the file is whole.
    KillWriterBeforeRename(reg, 10, b, wb, "\"SampleRate\"=hex:01,00,02,00,44,ac");
    SaveSettings(b, wb);  // the lock died with the writer: saving works
    const auto valuesB = ValuesOf(reg.Path());
    SaveSettings(a, wa);
    KillWriterBeforeRename(reg, 10, b, wb, "\"SampleRate\"=hex:01,00,02,00,44,ac");
    auto mixed = ValuesOf(reg.Path());
    ASSERT_EQ(mixed.size(), 20u);
    for (int i = 0; i < 20; ++i) {
        SCOPED_TRACE(kAllNames[i]);
        EXPECT_EQ(mixed[kAllNames[i]], i < 9 ? valuesB.at(kAllNames[i]) : valuesA.at(kAllNames[i]));
    }
    LoadSettings(loaded, loadedWindow);
    EXPECT_EQ(loaded.FPS, 30);
    EXPECT_EQ(std::string(loaded.SavedFile), "/home/a/rec.avi");
}

TEST(RecorderSettingsReliability, WriterKilledAtAnyMomentLeavesAWholeFile) {
    TempRegistry reg;
    RecorderSettings a, b;
    MainWindowValues wa, wb;
    MakeRecord(0, a, wa);
    MakeRecord(1, b, wb);
    SaveSettings(a, wa);
    const auto valuesA = ValuesOf(reg.Path());
    SaveSettings(b, wb);
    const auto valuesB = ValuesOf(reg.Path());

    for (int round = 0; round < 25; ++round) {
        SCOPED_TRACE(round);
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int i = 0;; ++i) {
                try {
                    SaveSettings(i % 2 ? b : a, i % 2 ? wb : wa);
                } catch (...) {
                    ::_exit(2);
                }
            }
        }
        // Vary the moment of the kill from round to round.
        ::usleep(useconds_t(3000 + round * 1700));
        ASSERT_EQ(::kill(pid, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself (status " << status << ")";
        auto values = ValuesOf(reg.Path());
        ASSERT_EQ(values.size(), 20u) << reg.Text();
        for (const char* name : kAllNames) {
            const RegValue& v = values[name];
            EXPECT_TRUE(v == valuesA.at(name) || v == valuesB.at(name)) << name;
        }
    }
    RecorderSettings loaded;
    MainWindowValues loadedWindow;
    LoadSettings(loaded, loadedWindow);
    SaveSettings(a, wa);
    EXPECT_EQ(ValuesOf(reg.Path()), valuesA);
}

TEST(RecorderSettingsReliability, TwoProcessesSavingAtOnceLeaveOneWholeFile) {
    TempRegistry reg;
    RecorderSettings records[2];
    MainWindowValues windows[2];
    std::map<std::string, RegValue> reference[2];
    for (int v = 0; v < 2; ++v) {
        MakeRecord(v, records[v], windows[v]);
        SaveSettings(records[v], windows[v]);
        reference[v] = ValuesOf(reg.Path());
    }
    pid_t children[2];
    for (int v = 0; v < 2; ++v) {
        children[v] = ::fork();
        ASSERT_GE(children[v], 0);
        if (children[v] == 0) {
            try {
                for (int i = 0; i < 12; ++i) SaveSettings(records[v], windows[v]);
            } catch (...) {
                ::_exit(2);
            }
            ::_exit(0);
        }
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    auto values = ValuesOf(reg.Path());
    ASSERT_EQ(values.size(), 20u) << reg.Text();
    for (const char* name : kAllNames)
        EXPECT_TRUE(values[name] == reference[0].at(name) || values[name] == reference[1].at(name)) << name;
    EXPECT_FALSE(TempRegistry::Exists(reg.Path() + ".tmp"));
    RecorderSettings loaded;
    MainWindowValues loadedWindow;
    EXPECT_NO_THROW(LoadSettings(loaded, loadedWindow));
}
